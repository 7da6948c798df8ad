// Where the devhost meets the system's own narrow path encoding: the running
// program's file, the paths that plugins get from GetCurrentDir and hand to
// narrow file functions (fopen, std::ofstream of a char path), and narrow
// command-line arguments. Any thread.
#pragma once

#include <filesystem>
#include <string>

namespace devhost {

// The full path of the running executable; empty if the system cannot tell.
std::filesystem::path ExecutablePath();

#if defined(_WIN32)
// The full path of a loaded module (an HMODULE; null: the running
// executable), however long; empty if the system cannot tell.
std::filesystem::path ModuleFilePath(void* module);
#endif

// `path` in the system's narrow encoding: its bytes on Linux, the ANSI code
// page on Windows, which narrow file functions use there. A character that
// the code page lacks cannot be represented and becomes '?'.
std::string NarrowPath(const std::filesystem::path& path);

// The inverse of NarrowPath, for a narrow command-line argument.
std::filesystem::path PathFromNarrow(const std::string& text);

}  // namespace devhost
