; The Windows installer: a per-user install (no administrator prompt) of the
; portable folder, with a Start-menu entry, "Open with" for the image types
; the program reads and an uninstall entry. Built on Debian by
; scripts/setup-windows:
;   makensis -DVERSION=1.0.0.0 -DSOURCE=<portable folder> -DFILES=<file list>
;            -DLICENSE=<licence text> -DOUTFILE=<setup.exe> zarvelo.nsi
; /S installs or uninstalls silently.
; A 64-bit installer for the 64-bit program (it also runs where no 32-bit layer is installed).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define APP "Zarvelo"
!define EXE "zarvelo.exe"
!define PROGID "Zarvelo.Image"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zarvelo"
!define CLASSES "Software\Classes"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "FileDescription" "${APP} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Zarvelo developers, GPL-3.0-or-later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The image types offered under "Open with".
!macro ForEachType MACRO
  !insertmacro ${MACRO} ".png"
  !insertmacro ${MACRO} ".jpg"
  !insertmacro ${MACRO} ".jpeg"
  !insertmacro ${MACRO} ".jpe"
  !insertmacro ${MACRO} ".jfif"
  !insertmacro ${MACRO} ".gif"
  !insertmacro ${MACRO} ".bmp"
  !insertmacro ${MACRO} ".webp"
  !insertmacro ${MACRO} ".tif"
  !insertmacro ${MACRO} ".tiff"
  !insertmacro ${MACRO} ".svg"
  !insertmacro ${MACRO} ".psd"
  !insertmacro ${MACRO} ".heic"
  !insertmacro ${MACRO} ".heif"
  !insertmacro ${MACRO} ".avif"
  !insertmacro ${MACRO} ".pdf"
  !insertmacro ${MACRO} ".ai"
!macroend

!macro RegisterType EXT
  WriteRegStr HKCU "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}" ""
  WriteRegStr HKCU "${CLASSES}\Applications\${EXE}\SupportedTypes" "${EXT}" ""
!macroend

!macro UnregisterType EXT
  DeleteRegValue HKCU "${CLASSES}\${EXT}\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKCU "${CLASSES}\${EXT}\OpenWithProgids"
  DeleteRegKey /ifempty HKCU "${CLASSES}\${EXT}"
!macroend

Section "Zarvelo" SecMain
  SectionIn RO
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${EXE}"

  WriteRegStr HKCU "${CLASSES}\${PROGID}" "" "Image (${APP})"
  WriteRegStr HKCU "${CLASSES}\${PROGID}\DefaultIcon" "" '"$INSTDIR\${EXE}",0'
  WriteRegStr HKCU "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  WriteRegStr HKCU "${CLASSES}\Applications\${EXE}" "FriendlyAppName" "${APP}"
  WriteRegStr HKCU "${CLASSES}\Applications\${EXE}\shell\open\command" "" '"$INSTDIR\${EXE}" "%1"'
  !insertmacro ForEachType RegisterType

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Zarvelo developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${EXE}",0'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  ; Tell Explorer that file associations changed.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Section "un.Zarvelo" UnSecMain
  SectionIn RO
  SetShellVarContext current
  ; Exactly the files this installer wrote: the settings file beside the
  ; program (Zarvelo.ini) is the user's and stays.
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${APP}.lnk"
  DeleteRegKey HKCU "${CLASSES}\${PROGID}"
  DeleteRegKey HKCU "${CLASSES}\Applications\${EXE}"
  !insertmacro ForEachType UnregisterType
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

; Off unless the user ticks it: the settings file and the installation
; identifier.
Section /o "un.Remove my settings" UnSecSettings
  Delete "$INSTDIR\Zarvelo.ini"
  RMDir "$INSTDIR"
  DeleteRegValue HKCU "Software\Talmerick" "TUID"
  DeleteRegKey /ifempty HKCU "Software\Talmerick"
SectionEnd

; /REMOVESETTINGS on the uninstaller's command line ticks it (for a silent uninstall).
!include "FileFunc.nsh"
Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${UnSecSettings} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
