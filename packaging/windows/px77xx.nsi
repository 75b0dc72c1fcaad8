; The Windows installer: the two window programs and pxctl.exe with the README
; and the licence, Start-menu entries for each program and for each on the
; simulated board, an entry in "Apps & features" and an uninstaller; silent
; with /S. A 64-bit installer, since the programs are 64-bit and Debian's
; wine64 runs no 32-bit stub.
;   makensis -DVERSION=0.4.0 -DSTAGE=DIR -DOUTFILE=px77xx-0.4.0-win64-setup.exe
;            -DPROGRAM1=px7700_02_reva "-DNAME1=PX7700_02 RevA" -DPROGRAM2=... px77xx.nsi
; STAGE holds what is installed: the programs, pxctl.exe and its JSON schema,
; README.txt (the Windows user's guide), LICENSE.txt.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!ifndef VERSION
  !error "VERSION is required: makensis -DVERSION=..."
!endif
!ifndef STAGE
  !error "STAGE is required: the folder of the files to install"
!endif
!ifndef PROGRAM1 | NAME1 | PROGRAM2 | NAME2
  !error "PROGRAM1, NAME1, PROGRAM2 and NAME2 are required: the window programs and their names"
!endif
!ifndef OUTFILE
  !define OUTFILE "px77xx-${VERSION}-win64-setup.exe"
!endif

!define NAME "px77xx"
!define PUBLISHER "px77xx developers"
!define MENU "$SMPROGRAMS\px77xx"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\px77xx"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\px77xx"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "MIT licence"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; For every user of the machine: the files go to Program Files.
Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

; A window program, its Start-menu entry, and its entry on the simulated board
; (as the Linux desktop entry's action opens it).
!macro Program EXE NAME
  File "${STAGE}\${EXE}.exe"
  CreateShortcut "${MENU}\${NAME}.lnk" "$INSTDIR\${EXE}.exe" "" "$INSTDIR\${EXE}.exe" 0
  CreateShortcut "${MENU}\${NAME} on the simulated board.lnk" "$INSTDIR\${EXE}.exe" "--port sim" "$INSTDIR\${EXE}.exe" 0
!macroend
!macro UnProgram EXE NAME
  Delete "$INSTDIR\${EXE}.exe"
  Delete "${MENU}\${NAME}.lnk"
  Delete "${MENU}\${NAME} on the simulated board.lnk"
!macroend

Section "px77xx"
  SetOutPath "$INSTDIR"
  CreateDirectory "${MENU}"
  !insertmacro Program "${PROGRAM1}" "${NAME1}"
  !insertmacro Program "${PROGRAM2}" "${NAME2}"
  ; The port chooser, then PROGRAM2's window on the port chosen.
  CreateShortcut "${MENU}\Choose the port….lnk" "$INSTDIR\${PROGRAM2}.exe" "--choose-port" "$INSTDIR\${PROGRAM2}.exe" 0
  File "${STAGE}\pxctl.exe"
  File "${STAGE}\pxctl-json.schema.json"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  ; uninstall.exe runs uninstall-core.exe, NSIS's own, and waits for it.
  File "${STAGE}\uninstall.exe"
  WriteUninstaller "$INSTDIR\uninstall-core.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM2}.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The size "Apps & features" shows, in KiB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  !insertmacro UnProgram "${PROGRAM1}" "${NAME1}"
  !insertmacro UnProgram "${PROGRAM2}" "${NAME2}"
  Delete "${MENU}\Choose the port….lnk"
  RMDir "${MENU}"
  Delete "$INSTDIR\pxctl.exe"
  Delete "$INSTDIR\pxctl-json.schema.json"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall-core.exe"
  ; uninstall.exe, which waits for this, removes itself and the folder.
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
