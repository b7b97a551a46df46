#include "app.h"

#include "../link/link.h"

HWND MainWindow = nullptr;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        CurrentSettings.CommandTable.clear();
        CurrentSettings.ProgramSections.clear();
        TrayDelete(window, 0);
        // Intended, though the picture came from LoadImage as a shared icon:
        // the main picture is let go at the window's end, and DestroyIcon
        // leaves a shared icon to the system.
        if (HICON connected = LinkStatePicture(LinkState::Connected)) DestroyIcon(connected);
        PostQuitMessage(0);
        break;
    case WM_COMMAND:
        // Compared whole: only menu commands (notification code 0) match.
        if (wParam == IDM_SETTINGS)
            ShellExecuteA(window, "open", CurrentSettings.IniPath.c_str(), nullptr, nullptr, SW_SHOW);
        else if (wParam == IDM_EXIT)
            DestroyWindow(window);
        else if (wParam == IDM_KEYPAD)
            TurnOnKeypad();
        break;
    case WM_TIMER:
        if (wParam == RETRY_TIMER) {
            RetryOpen();
            break;
        }
        SendToPort(CurrentSettings.PhoneInitString);
        // An icon the shell did not take is tried again at every keep-alive.
        TrayRestore(window, false);
        break;
    case MSG_RECONNECT:
        ReconnectPort();
        break;
    case MSG_PORTOPENED:
        PortOpened();
        break;
    case MSG_LINKERROR:
        ShowPostedLinkError();
        break;
    case MSG_TRAYNOTIFY:
        if (wParam == 0 && lParam == WM_RBUTTONDOWN) ShowTrayMenu(window);
        break;
    default:
        if (message == TaskbarCreatedMessage()) TrayRestore(window, true);
        break;
    }
    // Every message, handled or not, goes on to the default procedure.
    return DefWindowProcA(window, message, wParam, lParam);
}
