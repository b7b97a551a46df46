#include "app.h"

HWND MainWindow = nullptr;
HICON MainIcon = nullptr;
HICON NotConnectedIcon = nullptr;
HICON ReceiveIcon = nullptr;
HICON ErrorIcon = nullptr;

NOTIFYICONDATAA TrayRecord(HWND window, UINT id, UINT flags, HICON icon, UINT callbackMessage,
                           const char* tip)
{
    NOTIFYICONDATAA data;
    ZeroMemory(&data, sizeof data);
    // The first form of the record (88 bytes on x86): every shell since Windows 95 takes it.
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = id;
    data.uFlags = flags;
    data.uCallbackMessage = callbackMessage;
    data.hIcon = icon;
    if (tip) lstrcpynA(data.szTip, tip, 64);
    return data;
}

bool TrayAdd(HWND window, UINT id, HICON icon, UINT callbackMessage, const char* tip)
{
    NOTIFYICONDATAA data =
        TrayRecord(window, id, NIF_MESSAGE | NIF_ICON | NIF_TIP, icon, callbackMessage, tip);
    return Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
}

bool TrayModify(HWND window, UINT id, UINT flags, HICON icon, const char* tip)
{
    NOTIFYICONDATAA data = TrayRecord(window, id, flags, icon, 0, tip);
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool TrayDelete(HWND window, UINT id)
{
    NOTIFYICONDATAA data = TrayRecord(window, id, 0, nullptr, 0, nullptr);
    return Shell_NotifyIconA(NIM_DELETE, &data) != FALSE;
}

namespace {
// The loaded menu goes on every path out of ShowTrayMenu.
struct LoadedMenu {
    HMENU menu;
    explicit LoadedMenu(HMENU m) : menu(m) {}
    ~LoadedMenu() { if (menu) DestroyMenu(menu); }
    LoadedMenu(const LoadedMenu&) = delete;
    LoadedMenu& operator=(const LoadedMenu&) = delete;
};
} // namespace

void ShowTrayMenu(HWND owner)
{
    LoadedMenu loaded(LoadMenuA(GetModuleHandleA(nullptr), "MAINMENU"));
    if (!loaded.menu) return;
    HMENU popup = GetSubMenu(loaded.menu, 0);
    POINT at = {0, 0};
    GetCursorPos(&at);
    // Without this the menu does not close when the user clicks elsewhere.
    SetForegroundWindow(MainWindow);
    TrackPopupMenu(popup, TPM_CENTERALIGN, at.x, at.y, 0, owner, nullptr);
}
