if(CMAKE_CROSSCOMPILING AND WIN32)
  include(cmake/dependencies-windows.cmake)
  return()
endif()

find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(CLI11 REQUIRED)
find_package(Threads REQUIRED)

find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(quillmoor_asio INTERFACE)
target_include_directories(quillmoor_asio SYSTEM INTERFACE "${ASIO_INCLUDE_DIR}")
target_compile_definitions(quillmoor_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(quillmoor_asio INTERFACE Threads::Threads)

# Every module carries its own header-only spdlog and fmt, so that each has a
# private logger registry (the plugin's must not be the host's). The packaged
# spdlog_header_only target still links the shared fmt, so it is not used.
get_target_property(_spdlog_inc spdlog::spdlog INTERFACE_INCLUDE_DIRECTORIES)
add_library(quillmoor_logging INTERFACE)
target_include_directories(quillmoor_logging SYSTEM INTERFACE ${_spdlog_inc})
target_compile_definitions(quillmoor_logging INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL)
target_link_libraries(quillmoor_logging INTERFACE fmt::fmt-header-only Threads::Threads)

# The watcher draws its charts with PLplot and serves Prometheus metrics with
# prometheus-cpp (its core and pull parts), which Debian packages for Linux
# only: a Windows build goes without the watcher. Both are required rather
# than left out when missing, so that no Linux build ships a watcher without
# an output its documentation promises; scripts/bootstrap installs them.
if(QUILLMOOR_BUILD_TOOLS AND NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PLPLOT REQUIRED IMPORTED_TARGET plplot)
  find_package(prometheus-cpp CONFIG REQUIRED)
endif()

if(QUILLMOOR_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(QUILLMOOR_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
