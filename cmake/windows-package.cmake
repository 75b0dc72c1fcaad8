# The Windows installer and the portable .zip, from packaging/windows: the same
# files in both: the two window programs, pxctl.exe and its JSON schema, the
# Windows user's guide as README.txt and the licence. Built with the windows
# preset; makensis and zip run on the host.
find_program(PX_MAKENSIS makensis REQUIRED)
# uninstall.exe: runs NSIS's uninstaller and waits for it (see its source).
add_executable(px77xx_uninstall WIN32 ${PROJECT_SOURCE_DIR}/packaging/windows/uninstall.cpp)
target_link_libraries(px77xx_uninstall PRIVATE px_options)
target_link_options(px77xx_uninstall PRIVATE -municode)
find_program(PX_ZIP zip REQUIRED)
set(stage ${CMAKE_BINARY_DIR}/windows-stage)
list(GET PX_PROGRAMS 0 program1)
list(GET PX_PROGRAMS 1 program2)
set(setup ${CMAKE_BINARY_DIR}/px77xx-${PROJECT_VERSION}-win64-setup.exe)
set(portable ${CMAKE_BINARY_DIR}/px77xx-${PROJECT_VERSION}-win64.zip)
add_custom_command(
  OUTPUT ${setup} ${portable}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage} ${portable}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:pxctl> ${stage}/pxctl.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:px77xx_uninstall> ${stage}/uninstall.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program1}> $<TARGET_FILE:${program2}>
          ${PROJECT_SOURCE_DIR}/packaging/pxctl-json.schema.json ${stage}
  # Text files in Windows' line endings, so that Notepad shows their lines. The
  # README is the Windows user's guide; the developer README stays in the source.
  COMMAND sh -c "sed 's/$/\\r/' \"$1\" >\"$3/README.txt\" && sed 's/$/\\r/' \"$2\" >\"$3/LICENSE.txt\""
          sh ${PROJECT_SOURCE_DIR}/docs/windows-guide.md ${PROJECT_SOURCE_DIR}/packaging/copyright ${stage}
  COMMAND ${PX_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${stage} -DOUTFILE=${setup}
          -DPROGRAM1=${program1} "-DNAME1=${PX_PROGRAM_${program1}_NAME}"
          -DPROGRAM2=${program2} "-DNAME2=${PX_PROGRAM_${program2}_NAME}"
          ${PROJECT_SOURCE_DIR}/packaging/windows/px77xx.nsi
  COMMAND sh -c "cd \"$1\" && \"$2\" -q -X \"$3\" pxctl.exe px77*.exe *.json README.txt LICENSE.txt" sh ${stage} ${PX_ZIP} ${portable}
  DEPENDS pxctl px77xx_uninstall ${program1} ${program2} ${PROJECT_SOURCE_DIR}/packaging/windows/px77xx.nsi
          ${PROJECT_SOURCE_DIR}/docs/windows-guide.md ${PROJECT_SOURCE_DIR}/packaging/pxctl-json.schema.json
          ${PROJECT_SOURCE_DIR}/packaging/copyright
  COMMENT "Windows installer and portable archive"
  VERBATIM)
add_custom_target(windows_package ALL DEPENDS ${setup} ${portable})
set(PX_WINDOWS_SETUP ${setup} CACHE INTERNAL "")
set(PX_WINDOWS_ZIP ${portable} CACHE INTERNAL "")
