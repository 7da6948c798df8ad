#include "host/module_path.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>

#include "host/framework.h"
#endif

namespace Quillmoor::Host {

std::wstring ModulePath() {
#if defined(_WIN32)
  HMODULE module = nullptr;
  constexpr DWORD kFlags =
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (!GetModuleHandleExA(kFlags, reinterpret_cast<LPCSTR>(&ModulePath), &module)) {
    return {};
  }
  constexpr DWORD kCapacity = 260;
  wchar_t buffer[kCapacity] = {};
  const DWORD n = GetModuleFileNameW(module, buffer, kCapacity);
  // A longer path comes back cut off: no path is better than another
  // module's, under which the framework would never drop our timers.
  if (n == 0 || n >= kCapacity) {
    return {};
  }
  return std::wstring(buffer, n);
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&ModulePath), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  return AsaApi::Tools::Utf8Decode(info.dli_fname);
#endif
}

}  // namespace Quillmoor::Host
