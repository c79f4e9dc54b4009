; The technicians' installer: the window (torvin-updater.exe) and the command-line uploader
; (torvin-upload.exe) under Program Files, a Start menu shortcut to the window, the README and
; the licences, and an uninstaller listed among the installed programs. "/S" installs and
; uninstalls without a question; "/D=C:\path" (last on the command line) chooses the folder.
;
; Built by the Windows build (packaging/Windows.cmake), which passes:
;   VERSION   the product's version        STAGE     the folder with the files to install
;   OUTFILE   the installer to write       PUBLISHER the name shown as the publisher

; The programs are 64-bit, and so is the installer: the 64-bit Program Files and registry.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"

!define PRODUCT "Torvin Updater"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TorvinUpdater"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1046 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1046 "FileDescription" "Instalador do ${PRODUCT}"
VIAddVersionKey /LANG=1046 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1046 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1046 "LegalCopyright" "${PUBLISHER}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "${STAGE}/torvin-updater.exe"
    File "${STAGE}/torvin-upload.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\torvin-updater.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\torvin-updater.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize 0 $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    ; Only what the installer put there: a folder the user chose keeps anything else in it.
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\torvin-updater.exe"
    Delete "$INSTDIR\torvin-upload.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; A folder in use (a Command Prompt open in it) goes when Windows restarts.
    RMDir /REBOOTOK "$INSTDIR"
    IfFileExists "$INSTDIR\*.*" 0 +2
        MessageBox MB_OK|MB_ICONINFORMATION "A pasta $INSTDIR está em uso (um Prompt de Comando aberto nela?) e será removida quando o Windows for reiniciado." /SD IDOK
    ; What the programs keep between runs: the answers a board may still owe a run, for every
    ; user ($APPDATA is ProgramData here: the shell folders are all users'), and the files earlier
    ; versions kept for the user uninstalling.
    RMDir /r "$APPDATA\torvin-updater\owed"
    RMDir "$APPDATA\torvin-updater"
    Delete "$TEMP\torvin-owed-*"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
