# CPack: a Debian package of the operator tools on Linux, a zip on Windows.
# scripts/package builds both and checks them.
set(CPACK_PACKAGE_NAME "quillmoor-tools")
set(CPACK_PACKAGE_VENDOR "Quillmoor")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Quillmoor maintainers <quillmoor@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator tools for the Quillmoor server plugin")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")

if(WIN32)
  set(CPACK_GENERATOR "ZIP")
  set(CPACK_PACKAGE_FILE_NAME "quillmoor-tools_${PROJECT_VERSION}_windows-x64")
  # The files sit at the top of the zip's own folder, which unzipping makes.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "amd64")
  set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # PNG charts need PLplot's cairo driver, a plugin no library links.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "plplot-driver-cairo")
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/quillmoor")
  # The long description that apt shows under the summary above; CPack
  # indents it and marks the empty line between the paragraphs.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "quillmoor-config checks a server's Quillmoor PluginConfig.json the way the
plugin will read it, before the server restarts, writes the defaults and
explains every setting.

quillmoor-watch polls game servers over RCON (Linux or Windows servers)
and shows their engine object counts as a live table, a CSV file, a chart
and Prometheus metrics. The package carries a systemd unit for it, which
is neither enabled nor started on install, Prometheus alert rules and a
Grafana dashboard under /usr/share/quillmoor.")
endif()
include(CPack)
