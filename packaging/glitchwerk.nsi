; SPDX-License-Identifier: MIT
; The Windows installer: per user, no administrator. Built by
; scripts/windows-package.sh, which defines VERSION, STAGE (the folder of the
; files to install), TOOLS (the folder of user-path.exe), EXTENSIONS (the ROM
; types' macro) and OUTFILE. /ADDTOPATH on its command line chooses "Add to
; PATH", for /S above all.
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
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

Page directory
Page components
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

Section "Glitchwerk and glitchwerk-cli" SecProgram
    SectionIn RO
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

; The folder at the end of the user's PATH, for glitchwerk-cli in any console.
; user-path.exe reads and writes the value whole (the strings here hold 1,024
; characters) and leaves one it does not change as it was. The uninstaller
; takes the entry off only when this added it.
!macro UserPath what title
    InitPluginsDir
    File "/oname=$PLUGINSDIR\user-path.exe" "${TOOLS}\user-path.exe"
    ; "\." keeps a trailing backslash (C:\) from quoting the closing quote.
    nsExec::ExecToStack '"$PLUGINSDIR\user-path.exe" ${what} "$INSTDIR\."'
    Pop $0 ; 0 changed, 1 nothing to change, else not changed; or "error"
    Pop $1 ; what it said
    DetailPrint $1
    ${If} $0 != 0
    ${AndIf} $0 != 1
        MessageBox MB_OK|MB_ICONEXCLAMATION "${title}$\n$\n$1" /SD IDOK
    ${EndIf}
!macroend

Section /o "Add to PATH (glitchwerk-cli in any console)" SecPath
    !insertmacro UserPath add "Glitchwerk is installed, but its folder was not added to your PATH."
    ${If} $0 == 0
        WriteRegDWORD HKCU "${UNINSTALL}" "AddedToPath" 1
    ${EndIf}
SectionEnd

Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ADDTOPATH" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
FunctionEnd

; Removes exactly what was installed: a data file (Glitchwerk*.dat) left in
; the folder stays, and so does the folder then.
Section Uninstall
    ReadRegDWORD $0 HKCU "${UNINSTALL}" "AddedToPath"
    ${If} $0 = 1
        !insertmacro UserPath remove "Glitchwerk's folder was not taken off your PATH."
    ${EndIf}

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
