// File system paths to and from UTF-8, the encoding in which the devhost
// keeps module paths and shows paths in its log. Portable: std::filesystem
// converts char8_t text as UTF-8 on every system, while its narrow (char)
// conversions follow the system's code page on Windows.
#pragma once

#include <filesystem>
#include <string>

namespace devhost {

std::string PathToUtf8(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(const std::string& text);

}  // namespace devhost
