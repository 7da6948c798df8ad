# Compiler caching, when ccache is installed (scripts/bootstrap installs it).
# The base directory makes paths inside this checkout relative before they
# are hashed, and the working directory is left out of the hash, so that a
# fresh clone elsewhere on the machine (CI's) hits what a developer's build
# left in the cache. QUILLMOOR_CCACHE=OFF builds without it.
option(QUILLMOOR_CCACHE "Compile through ccache when it is installed" ON)
find_program(QUILLMOOR_CCACHE_PROGRAM ccache)
if(QUILLMOOR_CCACHE AND QUILLMOOR_CCACHE_PROGRAM)
  set(_launcher "${CMAKE_COMMAND}" -E env
      "CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}" CCACHE_NOHASHDIR=1
      "${QUILLMOOR_CCACHE_PROGRAM}")
  set(CMAKE_CXX_COMPILER_LAUNCHER ${_launcher})
  set(CMAKE_C_COMPILER_LAUNCHER ${_launcher})
  # __FILE__ (every test's and log call's source location) would otherwise
  # put this checkout's path into the preprocessed text, which ccache hashes.
  add_compile_options("-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=")
endif()
