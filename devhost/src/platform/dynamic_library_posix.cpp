#include <dlfcn.h>
#include <stdexcept>
#include <system_error>

#include "devhost/dynamic_library.h"

namespace devhost {

void* OpenLibrary(const std::filesystem::path& library) {
  // RTLD_LOCAL: two plugins must not bind to each other's copies of library
  // code, or unloading one would leave it mapped for the other.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* err = dlerror();
    throw std::runtime_error("cannot load " + library.string() + ": " +
                             (err ? err : "unknown error"));
  }
  return handle;
}

void* FindExport(void* handle, const char* name) {
  return dlsym(handle, name);
}

void CloseLibrary(void* handle) {
  dlclose(handle);
}

std::string ModuleIdentity(const std::string& module) {
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(module, ec);
  return ec ? module : canonical.string();
}

bool IsLibraryMapped(const std::filesystem::path& library) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
  }
  return handle != nullptr;
}

}  // namespace devhost
