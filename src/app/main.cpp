// Quorvix: a phone's keypad, reached over a serial port, as a remote control.
#include "app.h"

#include <objbase.h>

#include "../link/keypad.h"
#include "../link/link.h"
#include "../util/program_folder.h"
#include "../util/system_dll.h"

namespace {

const char* const WINDOW_CLASS = "Quorvix";

// A remote control must not take time from what the user is doing.
void LowerPriority()
{
    // A real handle opened for the right alone, rather than the pseudo-handle
    // of GetCurrentProcess: intended, and closed below.
    HANDLE process = OpenProcess(PROCESS_SET_INFORMATION, FALSE, GetCurrentProcessId());
    SetPriorityClass(process, IDLE_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
    if (process) CloseHandle(process);
}

int RunQuorvix(HINSTANCE instance)
{
    if (FindWindowA(WINDOW_CLASS, nullptr)) {
        // This exact text, as users and their scripts know it: not to be corrected.
        ShowError("Application is runned");
        return 0;
    }
    WNDCLASSA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = WINDOW_CLASS;
    RegisterClassA(&wc);
    MainWindow = CreateWindowExA(0, WINDOW_CLASS, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                 instance, nullptr);
    if (!MainWindow) {
        ShowError("CreateWindow failed");
        return 0;
    }
    ShowWindow(MainWindow, SW_HIDE);
    LowerPriority();
    LoadTrayPictures(instance);
    TrayAdd(MainWindow, 0, LinkStatePicture(LinkState::NotConnected), MSG_TRAYNOTIFY, TRAY_TIP);
    SetLinkReports(MainWindow, ShowError);
    if (!LoadSettings()) {
        // Running on COM1 without a single key would look like success.
        ShowError(SettingsUnreachable().c_str());
        DestroyWindow(MainWindow);
        UnregisterClassA(WINDOW_CLASS, instance);
        return 0;
    }
    ConnectPort();
    StartKeypadPage();
    SetTimer(MainWindow, 0, static_cast<UINT>(CurrentSettings.PingInterval), nullptr);

    // Polling: one message per iteration, an idle pass only when none waits.
    MSG msg;
    ZeroMemory(&msg, sizeof msg);
    do {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        } else {
            IdleWork();
        }
    } while (msg.message != WM_QUIT);

    StopConnecting();
    StopKeypad();
    ForgetKeypadTaker();
    ClosePort();
    // Does nothing when the window is already gone; after a foreign WM_QUIT
    // its destruction removes the tray icon now.
    DestroyWindow(MainWindow);
    UnregisterClassA(WINDOW_CLASS, instance);
    ClearReceived();
    CurrentSettings = Settings();
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    LoadDllsFromSystemOnly();
    // Apartment-threaded COM for the shell's launching and the volume endpoint.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    RunQuorvix(instance);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
