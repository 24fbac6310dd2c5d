; The Windows installer. make_installer.cmake passes:
;   VERSION  the version it installs       BITS     64 or 32: the installer's own bitness too
;   STAGING  the files CPack staged        FILES    installed_files.nsh, their names
;   OUTFILE  the installer to write
; Command line: /S silent, /D=folder, /SIMULATOR to install the simulator driver silently.

Unicode true
!if ${BITS} = 64
    Target amd64-unicode
    !define PROGRAM_FILES "$PROGRAMFILES64"
!else
    Target x86-unicode
    !define PROGRAM_FILES "$PROGRAMFILES32"
!endif
!include "${FILES}"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "MUI2.nsh"

!define TITLE "Tarvelo (${BITS}-bit)"
; A 32-bit installer writes to the 32-bit registry view, so both can be installed side by side.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvelo"
!define SHORTCUT "$SMPROGRAMS\${TITLE}.lnk"

Name "${TITLE}"
BrandingText "Tarvelo ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
InstallDir "${PROGRAM_FILES}\Tarvelo"
; An upgrade goes where the installed version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

!define MUI_ICON "..\..\src\app\res\tarvelo.ico"
!define MUI_UNICON "..\..\src\app\res\tarvelo.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Tarvelo" SectionProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "${STAGING}\${PROGRAM}"
    File "${STAGING}\${CLI}"
    File "${STAGING}\README.txt"
    File "${STAGING}\LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\${PROGRAM}"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Loopback simulator driver" SectionSimulator
    SetOutPath "$INSTDIR"
    File "${STAGING}\${SIMULATOR}"
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\${SIMULATOR}"' $0
    ${If} ${Errors}
    ${OrIf} $0 <> 0
        MessageBox MB_ICONEXCLAMATION "The simulator driver could not be registered \
            (regsvr32 exit code $0)." /SD IDOK
        SetErrorLevel 2
    ${EndIf}
SectionEnd

Section "-Size"
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function .onInit
    SetShellVarContext all
    ; Silent installs ask for the simulator with /SIMULATOR; an upgrade keeps it.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/SIMULATOR" $1
    ${IfNot} ${Errors}
    ${OrIf} ${FileExists} "$INSTDIR\${SIMULATOR}"
        SectionSetFlags ${SectionSimulator} ${SF_SELECTED}
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

; Removes the driver entries whose server is the missing $INSTDIR\${SIMULATOR}: with the file
; gone, regsvr32 cannot have the driver remove them itself.
Function un.forgetSimulatorEntries
    StrCpy $0 0
    ${Do}
        EnumRegKey $1 HKLM "SOFTWARE\ASIO" $0
        ${If} $1 == ""
            ${Break}
        ${EndIf}
        ReadRegStr $2 HKLM "SOFTWARE\ASIO\$1" "CLSID"
        ReadRegStr $3 HKCR "CLSID\$2\InprocServer32" ""
        ${If} $2 != ""
        ${AndIf} $3 == "$INSTDIR\${SIMULATOR}"
            DeleteRegKey HKCR "CLSID\$2"
            DeleteRegKey HKLM "SOFTWARE\ASIO\$1"
        ${Else}
            IntOp $0 $0 + 1
        ${EndIf}
    ${Loop}
FunctionEnd

Section "Uninstall"
    ${If} ${FileExists} "$INSTDIR\${SIMULATOR}"
        ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\${SIMULATOR}"'
    ${Else}
        Call un.forgetSimulatorEntries
    ${EndIf}
    DeleteRegKey /ifempty HKLM "SOFTWARE\ASIO"
    Delete "$INSTDIR\${SIMULATOR}"
    Delete "$INSTDIR\${PROGRAM}"
    Delete "$INSTDIR\${CLI}"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; Not /r: files the user put there stay, and so does the folder then.
    RMDir "$INSTDIR"
    Delete "${SHORTCUT}"
    ; Last, so that the entry stays listed until everything else is done.
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
