#include <windows.h>

#include <rotating_log/rotating_file.h>
#include <vector>

#include "platform/native_path.h"

namespace devhost {

// GetModuleFileNameW truncates silently: grow the buffer until the whole
// path fits (paths of more than 260 characters exist).
std::filesystem::path ModuleFilePath(void* module) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(),
                                       static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      return {};
    }
    if (n < buffer.size()) {
      return std::filesystem::path(std::wstring(buffer.data(), n));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path ExecutablePath() {
  return ModuleFilePath(nullptr);
}

// Not path::string(): libstdc++ gives UTF-8 there and MSVC the code page,
// while fopen and a narrow std::ofstream read the code page on both.
std::string NarrowPath(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) {
    return {};
  }
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::filesystem::path PathFromNarrow(const std::string& text) {
  return rotating_log::PathFromNarrow(text);
}

}  // namespace devhost
