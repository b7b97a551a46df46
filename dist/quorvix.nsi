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
!include "TextFunc.nsh"
!include "Sections.nsh"

!define PRODUCT "Quorvix"
!define PUBLISHER "The Quorvix developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvix"
; The user's choices, kept across upgrades.
!define CHOICES_KEY "Software\Quorvix"
; The program's hidden window; WM_CLOSE ends it as its tray menu's Exit does.
!define WINDOW_CLASS "Quorvix"
; What this setup wrote into its folder, one name a line: the uninstaller
; removes these and nothing else, and a folder holding it is an install.
!define FILE_LIST "installed-files.txt"

Name "${PRODUCT} ${VERSION} (${ARCH})"
OutFile "${OUT}"
InstallDir "$LOCALAPPDATA\Programs\Quorvix"
; An earlier install's folder (an upgrade goes there, see .onInit).
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup (${ARCH})"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Var WasRunning
Var Upgrade

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Find my phone (looks for the phone's COM port and writes it into the settings)"
!define MUI_FINISHPAGE_RUN_FUNCTION FindMyPhone
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW FinishShown
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Ends the running Quorvix when its program lies in $INSTDIR, and waits up
; to 10 s for its process to end (its window goes first, and its file stays
; in use until the process is gone). $0: 0 none running, 1 ended, 2 it would
; not end, 3 a copy from elsewhere (a portable one), left running; $5 its folder.
!macro EndRunningProgram
    StrCpy $0 0
    FindWindow $1 "${WINDOW_CLASS}"
    ${If} $1 <> 0
        System::Call 'user32::GetWindowThreadProcessId(p r1, *i .r2)'
        ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION
        System::Call 'kernel32::OpenProcess(i 0x00101000, i 0, i r2) p .r3'
        StrCpy $5 ""
        ${If} $3 P<> 0
            StrCpy $6 ${NSIS_MAX_STRLEN}
            System::Call 'kernel32::QueryFullProcessImageNameW(p r3, i 0, w .r5, *i r6r6)'
        ${EndIf}
        ${GetParent} $5 $5
        ; File names compare without case as Windows compares them (2: equal).
        System::Call 'kernel32::CompareStringOrdinal(w r5, i -1, w "$INSTDIR", i -1, i 1) i .r7'
        ${If} $7 <> 2
            StrCpy $0 3
        ${Else}
            StrCpy $0 1
            SendMessage $1 ${WM_CLOSE} 0 0 /TIMEOUT=2000
            System::Call 'kernel32::WaitForSingleObject(p r3, i 10000) i .r4'
            ${If} $4 <> 0
                StrCpy $0 2
            ${EndIf}
        ${EndIf}
        ${If} $3 P<> 0
            System::Call 'kernel32::CloseHandle(p r3)'
        ${EndIf}
    ${EndIf}
!macroend

; $0: 1 when $INSTDIR is a Quorvix install (its file list, or the uninstall
; entry of a setup from before the list), else 0.
!macro IsQuorvixFolder
    StrCpy $0 0
    ${If} ${FileExists} "$INSTDIR\${FILE_LIST}"
        StrCpy $0 1
    ${Else}
        ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
        System::Call 'kernel32::CompareStringOrdinal(w r1, i -1, w "$INSTDIR", i -1, i 1) i .r2'
        ${If} $2 = 2
        ${AndIf} ${FileExists} "$INSTDIR\uninstall.exe"
            StrCpy $0 1
        ${EndIf}
    ${EndIf}
!macroend

Section "Quorvix (program, tools, Start menu)" SecMain
    SectionIn RO
    ; Never into a folder of someone else's files: nothing there is replaced.
    !insertmacro IsQuorvixFolder
    ${If} $0 = 0
        ${DirState} "$INSTDIR" $1
        ${If} $1 = 1
            MessageBox MB_OK|MB_ICONSTOP "$INSTDIR holds files and no Quorvix install. The setup installs only into an empty folder or over an earlier Quorvix; choose another folder." /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${EndIf}
    !insertmacro EndRunningProgram
    ${If} $0 = 2
        MessageBox MB_OK|MB_ICONSTOP "Quorvix does not end. End it from its tray menu, then run this setup again." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    ${If} $0 = 3
        DetailPrint "Quorvix is running from $5: it is left running, and this copy is not started while it runs."
        MessageBox MB_OK|MB_ICONINFORMATION "Quorvix is running from $5. That copy is left running; end it before you start the installed one." /SD IDOK
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
    FileOpen $9 "$INSTDIR\${FILE_LIST}" w
    FileWrite $9 "quorvix.exe$\r$\nquorvix-monitor.exe$\r$\nquorvix-check.exe$\r$\nREADME.txt$\r$\n"
    FileWrite $9 "quorvix.ini$\r$\nuninstall.exe$\r$\n${FILE_LIST}$\r$\n"
    FileClose $9

    CreateDirectory "$SMPROGRAMS\Quorvix"
    CreateShortCut "$SMPROGRAMS\Quorvix\Quorvix.lnk" "$INSTDIR\quorvix.exe"
    CreateShortCut "$SMPROGRAMS\Quorvix\Quorvix settings.lnk" "$WINDIR\notepad.exe" '"$INSTDIR\quorvix.ini"'
    CreateShortCut "$SMPROGRAMS\Quorvix\Find my phone.lnk" "$SYSDIR\cmd.exe" '/k ""$INSTDIR\quorvix-monitor.exe" --find --write"'
    CreateShortCut "$SMPROGRAMS\Quorvix\Learn my keys.lnk" "$SYSDIR\cmd.exe" '/k ""$INSTDIR\quorvix-monitor.exe" --learn --write"'
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

Section "-Remember and start again"
    ${If} ${SectionIsSelected} ${SecStartup}
        WriteRegDWORD HKCU "${CHOICES_KEY}" "StartWithWindows" 1
    ${Else}
        WriteRegDWORD HKCU "${CHOICES_KEY}" "StartWithWindows" 0
    ${EndIf}
    ${If} $WasRunning = 1
        Exec '"$INSTDIR\quorvix.exe"'
    ${EndIf}
SectionEnd

Function .onInit
    ; An earlier install is upgraded where it is, whatever /D= says: one
    ; uninstall entry serves one folder.
    StrCpy $Upgrade 0
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\uninstall.exe"
        StrCpy $INSTDIR $0
        StrCpy $Upgrade 1
    ${EndIf}
    ; Start with Windows as the user left it: on an upgrade, whether the
    ; shortcut is still there (removed by hand counts) and the choice
    ; recorded; else the recorded choice; first install: ticked.
    ClearErrors
    ReadRegDWORD $1 HKCU "${CHOICES_KEY}" "StartWithWindows"
    ${If} ${Errors}
        StrCpy $1 1
    ${EndIf}
    ${If} $Upgrade = 1
    ${AndIfNot} ${FileExists} "$SMSTARTUP\Quorvix.lnk"
        StrCpy $1 0
    ${EndIf}
    ${If} $1 = 0
        !insertmacro UnselectSection ${SecStartup}
    ${EndIf}
FunctionEnd

; The search needs the phone's port: with the program started again it
; would find it busy, so it is offered unticked after an upgrade of a
; running program (the Start menu's "Find my phone" serves later).
Function FinishShown
    ${If} $WasRunning = 1
        SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ${EndIf}
FunctionEnd

Function FindMyPhone
    SetOutPath "$INSTDIR"
    Exec '"$SYSDIR\cmd.exe" /k ""$INSTDIR\quorvix-monitor.exe" --find --write"'
FunctionEnd

Section "Uninstall"
    !insertmacro EndRunningProgram
    ${If} $0 = 2
        MessageBox MB_OK|MB_ICONSTOP "Quorvix does not end, so nothing was removed. End it from its tray menu, then uninstall again." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    ; Only what the setup wrote: its list, or for an install from before the
    ; list the fixed names, where the uninstall entry names this folder.
    !insertmacro IsQuorvixFolder
    ${If} $0 = 0
        MessageBox MB_OK|MB_ICONSTOP "$INSTDIR is no Quorvix install: nothing was removed." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    StrCpy $8 0
    ${If} ${FileExists} "$INSTDIR\${FILE_LIST}"
        FileOpen $9 "$INSTDIR\${FILE_LIST}" r
        ${Do}
            ClearErrors
            FileRead $9 $1
            ${If} ${Errors}
                ${Break}
            ${EndIf}
            ${TrimNewLines} $1 $1
            ${If} $1 == "quorvix.ini"
                StrCpy $8 1
            ${ElseIf} $1 != ""
            ${AndIf} $1 != "${FILE_LIST}"
                Delete "$INSTDIR\$1"
            ${EndIf}
        ${Loop}
        FileClose $9
        Delete "$INSTDIR\${FILE_LIST}"
    ${Else}
        Delete "$INSTDIR\quorvix.exe"
        Delete "$INSTDIR\quorvix-monitor.exe"
        Delete "$INSTDIR\quorvix-check.exe"
        Delete "$INSTDIR\README.txt"
        Delete "$INSTDIR\uninstall.exe"
        StrCpy $8 1
    ${EndIf}
    Delete "$SMPROGRAMS\Quorvix\Quorvix.lnk"
    Delete "$SMPROGRAMS\Quorvix\Quorvix settings.lnk"
    Delete "$SMPROGRAMS\Quorvix\Find my phone.lnk"
    Delete "$SMPROGRAMS\Quorvix\Learn my keys.lnk"
    Delete "$SMPROGRAMS\Quorvix\Uninstall Quorvix.lnk"
    RMDir "$SMPROGRAMS\Quorvix"
    Delete "$SMSTARTUP\Quorvix.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "${CHOICES_KEY}"
    ${If} $8 = 1
        MessageBox MB_YESNO|MB_ICONQUESTION "Keep your settings file quorvix.ini (the port and your keys) for a later install?" /SD IDYES IDYES keep
        Delete "$INSTDIR\quorvix.ini"
    keep:
    ${EndIf}
    ; Only when empty: the kept settings, or files of the user's own, stay.
    RMDir "$INSTDIR"
SectionEnd
