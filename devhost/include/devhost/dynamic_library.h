// The system's loader as the devhost uses it for plugins: map a library,
// find its exports, unmap it, and tell which file a loaded module came from.
// dlopen on Linux, LoadLibraryW on Windows. Any thread; the loader locks.
#pragma once

#include <filesystem>
#include <string>

#include "devhost/export.h"

namespace devhost {

// The file name suffix of a plugin library on this system.
#if defined(_WIN32)
inline constexpr char kLibrarySuffix[] = ".dll";
#else
inline constexpr char kLibrarySuffix[] = ".so";
#endif

// Maps `library` with its dependencies resolved now. Returns the handle, or
// throws std::runtime_error naming the file and the system's reason.
void* OpenLibrary(const std::filesystem::path& library);
// The address of the export `name`, or null if the library has none.
void* FindExport(void* handle, const char* name);
// Drops one reference; the last one unmaps the library.
void CloseLibrary(void* handle);

// The path of `module` as the loader spells it once the module is mapped,
// or `module` in canonical form when no mapped module has that path. Two
// spellings of one loaded module's path (a link, another case on Windows)
// give the same result. UTF-8 in and out.
std::string ModuleIdentity(const std::string& module);

// Whether the library at `library` is mapped into this process now.
DEVHOST_API bool IsLibraryMapped(const std::filesystem::path& library);

}  // namespace devhost
