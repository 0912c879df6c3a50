; The Windows installer of Vorsa小票打印系统 (NSIS 3, built by scripts/package-windows.sh):
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.5 -DPROGRAM=<the program's .exe> -DOUTFILE=<installer .exe> vorsa-receipt.nsi
; For one user, without administrator rights: the program goes to %LOCALAPPDATA%\Programs\Vorsa, the
; Start-menu entry starts it in %APPDATA%\Vorsa (a folder the user can write, where it keeps dy.cfg),
; and the uninstaller (Settings > Apps, or uninstall.exe) removes only what the installer put there:
; dy.cfg, wherever it is, stays. Both run silently with /S.

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION | PROGRAM | OUTFILE
    !error "define VERSION, PROGRAM and OUTFILE (see scripts/package-windows.sh)"
!endif

!define TITLE "Vorsa小票打印系统"
!define PROGRAM_FILE "vorsa-receipt.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VorsaReceipt"

Name "${TITLE} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vorsa"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${TITLE}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${TITLE} ${VERSION} Setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "Vorsa Receipt maintainers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "/oname=${PROGRAM_FILE}" "${PROGRAM}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The shortcut's working folder is the output folder at the time it is made: the program keeps
    ; dy.cfg in the folder it is started in.
    SetOutPath "$APPDATA\Vorsa"
    CreateShortcut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" "$INSTDIR\${PROGRAM_FILE}" 0
    SetOutPath "$INSTDIR"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Vorsa"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_FILE},0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    ; Only what the installer made, by name. dy.cfg (in %APPDATA%\Vorsa, or copied next to the program)
    ; is the user's: the folders go only when empty.
    Delete "$SMPROGRAMS\${TITLE}.lnk"
    Delete "$INSTDIR\${PROGRAM_FILE}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    RMDir "$APPDATA\Vorsa"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
