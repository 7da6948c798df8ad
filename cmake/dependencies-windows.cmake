# The same dependency targets for the mingw-w64 cross build. Debian packages
# the header-only libraries for Linux only, but their headers serve Windows as
# well. The cross compiler must not search /usr/include itself (glibc's headers
# would shadow its own), so it gets a folder holding links to just those five
# libraries.
if(QUILLMOOR_BUILD_BENCHMARKS OR QUILLMOOR_BUILD_FUZZERS)
  message(FATAL_ERROR "Benchmarks and fuzzers are built on Linux only")
endif()

set(_headers "${PROJECT_BINARY_DIR}/linux-headers")
file(MAKE_DIRECTORY "${_headers}")
foreach(_entry spdlog fmt nlohmann asio asio.hpp CLI)
  if(NOT EXISTS "/usr/include/${_entry}")
    message(FATAL_ERROR "/usr/include/${_entry} is missing: run scripts/bootstrap")
  endif()
  file(CREATE_LINK "/usr/include/${_entry}" "${_headers}/${_entry}" SYMBOLIC)
endforeach()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

add_library(quillmoor_windows_headers INTERFACE)
target_include_directories(quillmoor_windows_headers SYSTEM INTERFACE "${_headers}")

add_library(nlohmann_json::nlohmann_json ALIAS quillmoor_windows_headers)
add_library(CLI11::CLI11 ALIAS quillmoor_windows_headers)
add_library(quillmoor_fmt_header_only INTERFACE)
target_compile_definitions(quillmoor_fmt_header_only INTERFACE FMT_HEADER_ONLY)
target_link_libraries(quillmoor_fmt_header_only INTERFACE quillmoor_windows_headers)
add_library(fmt::fmt-header-only ALIAS quillmoor_fmt_header_only)

add_library(quillmoor_asio INTERFACE)
target_compile_definitions(quillmoor_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED
                                                    _WIN32_WINNT=0x0A00)
target_link_libraries(quillmoor_asio INTERFACE quillmoor_windows_headers Threads::Threads
                                               ws2_32 mswsock)

add_library(quillmoor_logging INTERFACE)
target_compile_definitions(quillmoor_logging INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL
                                                       FMT_HEADER_ONLY)
target_link_libraries(quillmoor_logging INTERFACE quillmoor_windows_headers Threads::Threads)

# The packaged libgtest is a Linux library; GoogleTest is built here from its
# packaged sources instead, under the names that find_package(GTest) gives.
if(QUILLMOOR_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  foreach(_gtest gtest gtest_main gmock gmock_main)
    # Its sources are not ours to hold to our warning flags.
    target_compile_options(${_gtest} PRIVATE -w)
    if(NOT TARGET GTest::${_gtest})
      add_library(GTest::${_gtest} ALIAS ${_gtest})
    endif()
  endforeach()
  include(GoogleTest)
  # Listed by CTest under the emulator rather than at build time, so that
  # building needs no Wine.
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
