; VORELSetup.exe: puts the launcher on a player's machine. Built by scripts/make_setup.sh, which
; defines OUT, VERSION, LAUNCHER, DUMPER, CONFIG, ICON, SIDE and, for a signed release, RECORD.
; Per user by default (no UAC): the launcher writes into its own folder, which Program Files
; would forbid. /S installs silently, /D=FOLDER (last, unquoted) chooses the folder.
Target amd64-unicode  ; the launcher is a 64-bit program
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Lạc Phong Ký MAX"
!define PUBLISHER "VOREL"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VORELLauncher"

Name "${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUT}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\VORELLauncher"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ManifestSupportedOS all
ManifestDPIAware true  ; sharp text on high-DPI displays, like the launcher
XPStyle on  ; the current common controls, as in the launcher
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SIDE}"
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\VORELLauncher.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Vietnamese"

Section "${PRODUCT}" SecLauncher
  SectionIn RO
  SetOutPath "$INSTDIR"
  ; The launcher and its configuration go together: the configuration names the launcher's version.
  File "/oname=VORELLauncher.exe" "${LAUNCHER}"
  File "/oname=Dumper64.dll" "${DUMPER}"
  SetOutPath "$INSTDIR\Config"
  File "/oname=launcherconfig.txt" "${CONFIG}"
!ifdef RECORD
  ; The first record of the signed release is the rollback floor; an installation that already
  ; accepted a later release keeps its own.
  SetOverwrite off
  File "/oname=acceptedrelease.txt" "${RECORD}"
  SetOverwrite on
!endif
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\VORELLauncher.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\VORELLauncher.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Biểu tượng trên màn hình" SecDesktop
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\VORELLauncher.exe"
SectionEnd

; Everything the installer and the launcher made goes; anything else in the folder stays.
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLauncher} "Trình khởi chạy: tải trò chơi về, giữ trò chơi luôn mới nhất và mở trò chơi."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "Đặt một lối tắt đến trò chơi trên màn hình nền."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  RMDir /r "$INSTDIR\Game"
  RMDir /r "$INSTDIR\Package"
  RMDir /r "$INSTDIR\Incrementupdate"
  RMDir /r "$INSTDIR\Temp"
  RMDir /r "$INSTDIR\Log"
  RMDir /r "$INSTDIR\Config"
  RMDir /r "$INSTDIR\Dumps"
  Delete "$INSTDIR\VORELLauncher.exe"
  Delete "$INSTDIR\Dumper64.dll"
  Delete "$INSTDIR\updater.bat"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  RMDir "$INSTDIR"
  IfFileExists "$INSTDIR\*.*" 0 +2
    MessageBox MB_OK|MB_ICONINFORMATION "Các tệp bạn tự đặt vào $INSTDIR vẫn được giữ lại." /SD IDOK
SectionEnd
