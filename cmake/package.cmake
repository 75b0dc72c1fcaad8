# The Debian package: the two windows, pxctl, their desktop entries, the icon,
# man pages made from each program's --help, and the copyright and changelog.
# `cmake --build --preset release --target package` builds it.
set(PX_PACKAGE_NAME px77xx)
set(doc share/doc/${PX_PACKAGE_NAME})
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)

foreach(program IN LISTS PX_PROGRAMS)
  set(man_${program} "${PX_PROGRAM_${program}_SUMMARY}")
endforeach()
set(man_pxctl "run the PX7700/PX7702 programs' actions from the command line")
set(pages "")
foreach(program IN LISTS PX_PROGRAMS ITEMS pxctl)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --section=1 "--name=${man_${program}}" --output=${page} $<TARGET_FILE:${program}>
    COMMAND ${GZIP} -9nf ${page}
    DEPENDS ${program}
    COMMENT "Man page of ${program} from its --help"
    VERBATIM)
  list(APPEND pages ${page}.gz)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP} -9nkf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/changelog)
add_custom_target(package_files ALL DEPENDS ${pages} ${CMAKE_BINARY_DIR}/changelog.gz)

install(FILES ${pages} DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/px77xx.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
              ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "px77xx developers <px77xx@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the wipers of PX7700/PX7702 digital potentiometers")
set(CPACK_PACKAGE_DESCRIPTION "Two small windows, px7700_02_reva and px7702_reva, set the wipers of a
two-channel digital potentiometer by bit-banging its two-wire bus through a
parallel port (ppdev or direct I/O), any Linux I2C adapter, or a simulated
board. pxctl runs the same actions from scripts and test benches.")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
