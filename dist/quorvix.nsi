; Quorvix setup: a per-user install, no administrator rights. The program
; keeps its settings file beside itself, so it goes where the user may
; write: %LOCALAPPDATA%\Programs\Quorvix.
; makensis -DVERSION=1.0.0 -DARCH=x86|x64 -DSRC=<folder of the zip> -DOUT=<setup.exe> quorvix.nsi

Unicode true
; The x64 setup is a 64-bit program like what it installs: 32-bit Windows
; refuses to start it with its own message, and hosts without 32-bit
; support run it.
!if ${ARCH} == x64
Target amd64-unicode
!endif
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestSupportedOS all

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Quorvix"
!define PUBLISHER "The Quorvix developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvix"
; The program's hidden window; WM_CLOSE ends it as its tray menu's Exit does.
!define WINDOW_CLASS "Quorvix"

Name "${PRODUCT} ${VERSION} (${ARCH})"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\Programs\Quorvix"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup (${ARCH})"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Var WasRunning

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Find my phone (looks for the phone's COM port and writes it into the settings)"
!define MUI_FINISHPAGE_RUN_FUNCTION FindMyPhone
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends a running Quorvix and waits up to 10 s for its process to end (its
; window goes first, and its file stays in use until the process is gone);
; $0 is 1 when one was running, 2 when it would not end.
!macro EndRunningProgram
    StrCpy $0 0
    FindWindow $1 "${WINDOW_CLASS}"
    ${If} $1 <> 0
        StrCpy $0 1
        System::Call 'user32::GetWindowThreadProcessId(p r1, *i .r2)'
        ; SYNCHRONIZE
        System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r3'
        SendMessage $1 ${WM_CLOSE} 0 0 /TIMEOUT=2000
        ${If} $3 P<> 0
            System::Call 'kernel32::WaitForSingleObject(p r3, i 10000) i .r4'
            System::Call 'kernel32::CloseHandle(p r3)'
            ${If} $4 <> 0
                StrCpy $0 2
            ${EndIf}
        ${Else}
            Sleep 2000
            FindWindow $1 "${WINDOW_CLASS}"
            ${If} $1 <> 0
                StrCpy $0 2
            ${EndIf}
        ${EndIf}
    ${EndIf}
!macroend

Section "Quorvix (program, tools, Start menu)" SecMain
    SectionIn RO
    !insertmacro EndRunningProgram
    ${If} $0 = 2
        MessageBox MB_OK|MB_ICONSTOP "Quorvix does not end. End it from its tray menu, then run this setup again." /SD IDOK
        Abort
    ${EndIf}
    StrCpy $WasRunning $0
    SetOutPath "$INSTDIR"
    File "${SRC}\quorvix.exe"
    File "${SRC}\quorvix-monitor.exe"
    File "${SRC}\quorvix-check.exe"
    File "${SRC}\README.txt"
    ; The user's settings are never replaced: the example only where none is.
    SetOverwrite off
    File "${SRC}\quorvix.ini"
    SetOverwrite on
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\Quorvix"
    CreateShortCut "$SMPROGRAMS\Quorvix\Quorvix.lnk" "$INSTDIR\quorvix.exe"
    CreateShortCut "$SMPROGRAMS\Quorvix\Quorvix settings.lnk" "$WINDIR\notepad.exe" '"$INSTDIR\quorvix.ini"'
    CreateShortCut "$SMPROGRAMS\Quorvix\Find my phone.lnk" "$SYSDIR\cmd.exe" '/k ""$INSTDIR\quorvix-monitor.exe" --find --write"'
    CreateShortCut "$SMPROGRAMS\Quorvix\Uninstall Quorvix.lnk" "$INSTDIR\uninstall.exe"
    ; An upgrade that leaves the box unticked takes the start with Windows away.
    Delete "$SMSTARTUP\Quorvix.lnk"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} (${ARCH})"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvix.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; A shortcut in the user's Startup folder rather than a Run value: it is
; where the read-me sends zip users, and there a user sees and removes it.
Section "Start with Windows" SecStartup
    CreateShortCut "$SMSTARTUP\Quorvix.lnk" "$INSTDIR\quorvix.exe"
SectionEnd

Section "-Start again"
    ${If} $WasRunning = 1
        Exec '"$INSTDIR\quorvix.exe"'
    ${EndIf}
SectionEnd

Function FindMyPhone
    SetOutPath "$INSTDIR"
    Exec '"$SYSDIR\cmd.exe" /k ""$INSTDIR\quorvix-monitor.exe" --find --write"'
FunctionEnd

Section "Uninstall"
    !insertmacro EndRunningProgram
    Delete "$INSTDIR\quorvix.exe"
    Delete "$INSTDIR\quorvix-monitor.exe"
    Delete "$INSTDIR\quorvix-check.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    Delete "$SMPROGRAMS\Quorvix\Quorvix.lnk"
    Delete "$SMPROGRAMS\Quorvix\Quorvix settings.lnk"
    Delete "$SMPROGRAMS\Quorvix\Find my phone.lnk"
    Delete "$SMPROGRAMS\Quorvix\Uninstall Quorvix.lnk"
    RMDir "$SMPROGRAMS\Quorvix"
    Delete "$SMSTARTUP\Quorvix.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    MessageBox MB_YESNO|MB_ICONQUESTION "Keep your settings file quorvix.ini (the port and your keys) for a later install?" /SD IDYES IDYES keep
    Delete "$INSTDIR\quorvix.ini"
keep:
    ; Only when empty: the kept settings, or files of the user's own, stay.
    RMDir "$INSTDIR"
SectionEnd
