# What `cmake --install` puts where, and the packages CPack makes of it
# (scripts/package). Linux: the two operator tools, their man pages, the
# service unit, the Prometheus rules, the Grafana dashboard and the docs.
# Windows: quillmoor-config.exe, and the dev server in a folder of its own
# that says it is the development stand-in, not a game server.

# Debian looks for a package's copyright and changelog in
# share/doc/<package>, so the docs go there rather than under the project.
if(NOT QUILLMOOR_BUILD_TOOLS)
  return()
endif()

set(CMAKE_INSTALL_DOCDIR "share/doc/quillmoor-tools" CACHE PATH "Documentation folder")
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS quillmoor-config RUNTIME DESTINATION .)
  # The devhost's import library is for building against it, not for the
  # operator: it stays out of the zip.
  install(TARGETS quillmoor-devserver devhost Quillmoor
          RUNTIME DESTINATION dev-server
          LIBRARY DESTINATION dev-server
          ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
  install(FILES packaging/windows/README.txt DESTINATION .)
  install(FILES packaging/windows/DEV-SERVER-README.txt DESTINATION dev-server
          RENAME README.txt)
  return()
endif()

install(TARGETS quillmoor-config RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(TARGET quillmoor-watch)
  install(TARGETS quillmoor-watch RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# Man pages from each tool's --help, built with the tools.
find_program(QUILLMOOR_GZIP gzip REQUIRED)
set(_pages)
foreach(_tool IN ITEMS quillmoor-config quillmoor-watch)
  if(NOT TARGET ${_tool})
    continue()
  endif()
  if(_tool STREQUAL "quillmoor-config")
    set(_summary "check, write and explain a Quillmoor PluginConfig.json")
  else()
    set(_summary "poll game servers' object counts over RCON, with Prometheus metrics")
  endif()
  set(_page "${PROJECT_BINARY_DIR}/man/man1/${_tool}.1.gz")
  add_custom_command(
    OUTPUT "${_page}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${PROJECT_BINARY_DIR}/man/man1"
    # A sanitizer build's leak report at exit must not fail the page.
    COMMAND "${CMAKE_COMMAND}" -E env ASAN_OPTIONS=detect_leaks=0
            "${CMAKE_COMMAND}" "-DPROGRAM=$<TARGET_FILE:${_tool}>" "-DNAME=${_tool}"
            "-DSUMMARY=${_summary}" "-DVERSION=${PROJECT_VERSION}" "-DGZIP=${QUILLMOOR_GZIP}"
            "-DOUT=${_page}" -P "${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake"
    DEPENDS ${_tool} "${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake"
    COMMENT "Man page of ${_tool}"
    VERBATIM)
  list(APPEND _pages "${_page}")
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_pages})
install(FILES ${_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

# Debian's systemd looks in /lib/systemd/system for a package's units.
set(QUILLMOOR_SYSTEMD_UNIT_DIR "${CMAKE_INSTALL_LIBDIR}/systemd/system"
    CACHE PATH "Folder of the service unit (relative: under the prefix)")
install(FILES deploy/systemd/quillmoor-watch.service DESTINATION "${QUILLMOOR_SYSTEMD_UNIT_DIR}")
install(FILES deploy/prometheus/quillmoor-alerts.yml deploy/prometheus/prometheus.yml
        DESTINATION "${CMAKE_INSTALL_DATADIR}/quillmoor/prometheus")
install(FILES deploy/grafana/quillmoor.json DESTINATION "${CMAKE_INSTALL_DATADIR}/quillmoor/grafana")
install(FILES README.md docs/tools.md docs/watch-example.png packaging/debian/copyright
        DESTINATION "${CMAKE_INSTALL_DOCDIR}")
# Debian wants the changelog compressed, without a time stamp inside.
set(_changelog "${PROJECT_BINARY_DIR}/changelog.gz")
add_custom_command(
  OUTPUT "${_changelog}"
  COMMAND "${QUILLMOOR_GZIP}" -9nc "${PROJECT_SOURCE_DIR}/packaging/debian/changelog" > "${_changelog}"
  DEPENDS "${PROJECT_SOURCE_DIR}/packaging/debian/changelog"
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS "${_changelog}")
install(FILES "${_changelog}" DESTINATION "${CMAKE_INSTALL_DOCDIR}")
