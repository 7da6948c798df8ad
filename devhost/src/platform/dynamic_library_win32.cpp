#include <windows.h>

#include <stdexcept>
#include <system_error>
#include <vector>

#include "devhost/dynamic_library.h"
#include "platform/native_path.h"
#include "platform/utf8_path.h"

namespace devhost {
namespace {

// The system's message for `error`, without the line break it ends with.
std::string SystemMessage(DWORD error) {
  return std::system_category().message(static_cast<int>(error));
}

}  // namespace

void* OpenLibrary(const std::filesystem::path& library) {
  // The library's own folder is searched first for what it imports, as the
  // framework does for the plugins in ArkApi/Plugins.
  HMODULE module = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    throw std::runtime_error("cannot load " + PathToUtf8(library) + ": " +
                             SystemMessage(GetLastError()));
  }
  return reinterpret_cast<void*>(module);
}

void* FindExport(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void* handle) {
  FreeLibrary(static_cast<HMODULE>(handle));
}

// A module registers timers under the path GetModuleFileNameW gives it, which
// is the loader's spelling: asking the loader for the module by path (it
// compares without regard to case) and then for its file name makes every
// spelling of a loaded module's path one identity.
std::string ModuleIdentity(const std::string& module) {
  const std::filesystem::path path = PathFromUtf8(module);
  if (HMODULE loaded = GetModuleHandleW(path.c_str()); loaded != nullptr) {
    if (auto spelled = ModuleFilePath(loaded); !spelled.empty()) {
      return PathToUtf8(spelled);
    }
  }
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? module : PathToUtf8(canonical);
}

bool IsLibraryMapped(const std::filesystem::path& library) {
  return GetModuleHandleW(library.c_str()) != nullptr;
}

}  // namespace devhost
