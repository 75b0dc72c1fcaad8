# Two Debian packages from one CPack run: px77xx-cli (pxctl, for lab PCs and
# boards without a display: no Qt) and px77xx (the windows, their desktop
# entries and icon). Each has its man pages, README, copyright and changelog.
# `cmake --build --preset release --target package` builds both.
find_program(GZIP gzip REQUIRED)

# The man pages, made at build time by the same code as --help.
set(man ${CMAKE_BINARY_DIR}/man)
set(pages ${man}/pxctl.1)
foreach(program IN LISTS PX_PROGRAMS)
  list(APPEND pages ${man}/${program}.1)
endforeach()
list(TRANSFORM pages APPEND .gz OUTPUT_VARIABLE pages_gz)
list(POP_FRONT pages_gz pages_cli)
set(pages_gui ${pages_gz})
string(TIMESTAMP month "%B %Y" UTC)
add_custom_command(OUTPUT ${pages_cli} ${pages_gui}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${man}
  COMMAND manpages ${man} ${PROJECT_VERSION} "${month}"
  COMMAND ${GZIP} -9nf ${pages}
  DEPENDS manpages
  COMMENT "Man pages"
  VERBATIM)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP} -9nkf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/changelog)
add_custom_target(package_files ALL DEPENDS ${pages_cli} ${pages_gui} ${CMAKE_BINARY_DIR}/changelog.gz)

set(cli px77xx-cli)
set(gui px77xx)
set(python python3-px77xx)
install(FILES ${pages_cli} DESTINATION share/man/man1 COMPONENT cli)
install(FILES ${pages_gui} DESTINATION share/man/man1 COMPONENT gui)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/px77xx.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT gui)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pxctl-json.schema.json DESTINATION share/${cli} COMPONENT cli)
# Completion of pxctl's options, actions, port strings and the ports detect finds.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pxctl.bash-completion DESTINATION share/bash-completion/completions
        RENAME pxctl COMPONENT cli)
# The logged-in user reaches FTDI chips without root.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-px77xx-ftdi.rules ${PROJECT_SOURCE_DIR}/packaging/60-px77xx-hid.rules
  DESTINATION /lib/udev/rules.d COMPONENT cli)
# The chips the rule names, for software centres that match hardware.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/px77xx-cli.metainfo.xml DESTINATION share/metainfo
        RENAME io.github.px77xx.cli.metainfo.xml COMPONENT cli)
# pxctl serve from boot, when enabled; its settings a conffile.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/px77xx-scpi.service DESTINATION /lib/systemd/system COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/px77xx-scpi.default DESTINATION /etc/default RENAME px77xx-scpi
        COMPONENT cli)
file(WRITE ${CMAKE_BINARY_DIR}/cli-control/conffiles "/etc/default/px77xx-scpi\n")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/cli-control/conffiles)
foreach(component cli gui python)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
                ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/${${component}} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli gui python)
set(CPACK_PACKAGE_NAME px77xx)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "px77xx developers <px77xx@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE px77xx)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${cli})
set(CPACK_COMPONENT_CLI_DESCRIPTION "set the wipers of PX7700/PX7702 potentiometers from the command line
pxctl runs the operator actions of the PX7700/PX7702 windows from scripts
and test benches, without a display and without Qt: the same frames, port
strings and backends (parallel port through ppdev or direct I/O, GPIO lines,
an FTDI FT232H/FT2232H/FT4232H, any Linux I2C adapter, or a simulated
board), with traces and JSON output. pxctl serve makes the board a SCPI
instrument on a raw socket and on VXI-11, which VISA finds through rpcbind.")
# rpcbind lets VISA find pxctl serve's VXI-11 channel; not needed otherwise.
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "rpcbind")
# 0.1.0's single package held pxctl.
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "px77xx (<< 0.2.0)")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "px77xx (<< 0.2.0)")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME ${gui})
set(CPACK_COMPONENT_GUI_DESCRIPTION "set the wipers of PX7700/PX7702 potentiometers from a window
Two small windows, px7700_02_reva and px7702_reva, set the wipers of a
two-channel digital potentiometer by bit-banging its two-wire bus through a
parallel port (ppdev or direct I/O), GPIO lines, any Linux I2C adapter, or a
simulated board. pxctl, in px77xx-cli, does the same work without a window.")
set(CPACK_DEBIAN_GUI_PACKAGE_SUGGESTS ${cli})

# The module for the Python it was built for: its extension's ABI tag names
# that minor version.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(next_minor ${Python3_VERSION_MINOR})
math(EXPR next_minor "${next_minor} + 1")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${python})
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor})")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "set the wipers of PX7700/PX7702 potentiometers from Python
The module px77xx runs the operator actions of the PX7700/PX7702 windows from
Python test-bench scripts: the same frames, port strings and backends as
pxctl (parallel port, GPIO lines, any Linux I2C adapter, a port library or a
simulated board), with a device object per port, one method per action, the
displays as properties and exceptions that say what reached the port.")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
