; The qvArchiwizator installer: the program, qvcab and czytaj.txt into
; Program Files, a Start-menu shortcut for all users, and an uninstaller that
; Windows lists under "Programs and Features". Polish throughout; /S installs
; and uninstalls silently, /D=FOLDER (last on the line) installs elsewhere.
;
; CMake builds it (target windows_packages) and passes
;   CONFIG   a header of its own: VERSION, FILE_VERSION (four numbers),
;            PUBLISHER, STAGE (the folder of the stripped programs and the
;            text), ICON
;   OUTFILE  the installer to write
; Nothing is written for the user's settings: Program Files is not writable
; for them, so the program keeps them in %LOCALAPPDATA%\qvarchiwizator.

Unicode true
; The program is 64-bit only, and a 64-bit installer sees the 64-bit Program
; Files and registry natively (Wine without its 32-bit half runs it too).
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true
SetCompressor /SOLID lzma

!include "${CONFIG}"
!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qvArchiwizator"
!define UNINSTALLER "odinstaluj.exe"
!define SHORTCUT "$SMPROGRAMS\qvArchiwizator.lnk"

Name "qvArchiwizator ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\qvArchiwizator"
; An update goes where the first install went (/D= still overrides).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "qvArchiwizator ${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\czytaj.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Polish"

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_POLISH} "ProductName" "qvArchiwizator"
VIAddVersionKey /LANG=${LANG_POLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_POLISH} "LegalCopyright" "© ${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_POLISH} "FileDescription" "Instalator programu qvArchiwizator"
VIAddVersionKey /LANG=${LANG_POLISH} "FileVersion" "${FILE_VERSION}"
VIAddVersionKey /LANG=${LANG_POLISH} "ProductVersion" "${VERSION}"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/qvarchiwizator.exe"
  File "${STAGE}/qvcab.exe"
  File "${STAGE}/czytaj.txt"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\qvarchiwizator.exe" "" "$INSTDIR\qvarchiwizator.exe" 0 \
                 SW_SHOWNORMAL "" "Archiwizacja danych firm programu księgowego"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "qvArchiwizator"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qvarchiwizator.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In kilobytes, as "Programs and Features" shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Only what the installer put there: a settings file the program kept beside
; itself (a run as administrator can write there) stays, and so does the
; folder then. The users' own in %LOCALAPPDATA% are never touched.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\qvarchiwizator.exe"
  Delete "$INSTDIR\qvcab.exe"
  Delete "$INSTDIR\czytaj.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
