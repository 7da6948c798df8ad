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
  // 6 = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | ..._UNCHANGED_REFCOUNT.
  if (!GetModuleHandleExA(6, reinterpret_cast<LPCSTR>(&ModulePath), &module)) {
    return {};
  }
  wchar_t buffer[260] = {};
  const DWORD n = GetModuleFileNameW(module, buffer, 260);
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
