; SPDX-License-Identifier: MIT
; The Windows installer: per user, no administrator. Built by
; scripts/windows-package.sh, which defines VERSION, STAGE (the folder of the
; files to install), EXTENSIONS (the ROM types' macro) and OUTFILE.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

Name "Glitchwerk"
Icon "../win32/glitchwerk.ico"
UninstallIcon "../win32/glitchwerk.ico"
OutFile "${OUTFILE}"
!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glitchwerk"
InstallDir "$LOCALAPPDATA\Programs\Glitchwerk"
InstallDirRegKey HKCU "${UNINSTALL}" "InstallLocation"
!define APPLICATION "Software\Classes\Applications\glitchwerk.exe"
!define PROGID "Glitchwerk.Rom"
!include "${EXTENSIONS}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!macro OpenWith extension
    WriteRegStr HKCU "${APPLICATION}\SupportedTypes" "${extension}" ""
    WriteRegStr HKCU "Software\Classes\${extension}\OpenWithProgids" "${PROGID}" ""
!macroend

!macro NoLongerOpenWith extension
    DeleteRegValue HKCU "Software\Classes\${extension}\OpenWithProgids" "${PROGID}"
    DeleteRegKey /ifempty HKCU "Software\Classes\${extension}\OpenWithProgids"
    DeleteRegKey /ifempty HKCU "Software\Classes\${extension}"
!macroend

Section
    SetOutPath "$INSTDIR"
    File "${STAGE}\glitchwerk.exe"
    File "${STAGE}\glitchwerk-cli.exe"
    File "${STAGE}\glitchwerk-play.exe"
    File "${STAGE}\LICENSE.txt"
    File "${STAGE}\README.txt"
    WriteUninstaller "$INSTDIR\uninst.exe"

    ; The shortcut starts in the user's own folder, where the program keeps
    ; its data file: never in the program's folder.
    SetOutPath "$PROFILE"
    CreateShortcut "$SMPROGRAMS\Glitchwerk.lnk" "$INSTDIR\glitchwerk.exe"

    WriteRegStr HKCU "${UNINSTALL}" "DisplayName" "Glitchwerk"
    WriteRegStr HKCU "${UNINSTALL}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL}" "DisplayIcon" "$INSTDIR\glitchwerk.exe"
    WriteRegStr HKCU "${UNINSTALL}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL}" "UninstallString" '"$INSTDIR\uninst.exe"'
    WriteRegStr HKCU "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL}" "NoRepair" 1

    ; "Open with Glitchwerk" for ROM images.
    WriteRegStr HKCU "${APPLICATION}" "FriendlyAppName" "Glitchwerk"
    WriteRegStr HKCU "${APPLICATION}\shell\open\command" "" '"$INSTDIR\glitchwerk.exe" "%1"'
    WriteRegStr HKCU "Software\Classes\${PROGID}" "" "ROM image"
    WriteRegStr HKCU "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\glitchwerk.exe,0"
    WriteRegStr HKCU "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\glitchwerk.exe" "%1"'
    !insertmacro ForEachExtension OpenWith
SectionEnd

; Removes exactly what was installed: a data file (Glitchwerk*.dat) left in
; the folder stays, and so does the folder then.
Section Uninstall
    Delete "$INSTDIR\glitchwerk.exe"
    Delete "$INSTDIR\glitchwerk-cli.exe"
    Delete "$INSTDIR\glitchwerk-play.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninst.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Glitchwerk.lnk"

    !insertmacro ForEachExtension NoLongerOpenWith
    DeleteRegKey HKCU "Software\Classes\${PROGID}"
    DeleteRegKey HKCU "${APPLICATION}"
    DeleteRegKey HKCU "${UNINSTALL}"
SectionEnd
