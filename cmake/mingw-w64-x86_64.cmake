# Cross-compiles for 64-bit Windows with Debian's mingw-w64 g++ (the variant
# on POSIX threads, which has std::thread and std::mutex). Programs built here
# run on Linux under Wine: CMAKE_CROSSCOMPILING_EMULATOR comes from the
# preset, so that its Wine prefix lies inside the build folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_triplet}-windres)

# Libraries and packages of the target only; programs (cmake, wine) of the
# build machine. The Linux packages' CMake files describe Linux libraries, so
# cmake/dependencies.cmake takes the header-only ones by hand.
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libstdc++, libgcc and winpthread linked in: every module imports system
# DLLs only (and the devhost's DLL), so nothing has to be shipped beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
