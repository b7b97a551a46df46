#include "app.h"
#include "app_testing.h"

namespace {
// The four pictures, loaded once at start-up. Main thread.
HICON MainIcon = nullptr;
HICON NotConnectedIcon = nullptr;
HICON ReceiveIcon = nullptr;
HICON ErrorIcon = nullptr;
// What the shell should be showing: whether the icon is in the notification
// area as far as this program knows, and its current picture. Main thread.
bool TrayShown = false;
HICON TrayPicture = nullptr;
std::string TrayTip = TRAY_TIP;
LinkState ShownState = LinkState::NotConnected;
UINT TaskbarCreated = 0;

HICON LoadTrayPicture(HINSTANCE instance, const char* name)
{
    // The system's small-icon size: 16 pixels at 100 %, 20 at 125 %, 24 at
    // 150 %, 32 at 200 %; each group holds an image drawn for each.
    return static_cast<HICON>(LoadImageA(instance, name, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_SHARED));
}

} // namespace

void LoadTrayPictures(HINSTANCE instance)
{
    MainIcon = LoadTrayPicture(instance, "MAINICON");
    NotConnectedIcon = LoadTrayPicture(instance, "XNOTCONNECTED");
    ReceiveIcon = LoadTrayPicture(instance, "XRECIVE");
    ErrorIcon = LoadTrayPicture(instance, "XERROR");
}

HICON LinkStatePicture(LinkState state)
{
    switch (state) {
    case LinkState::Connected: return MainIcon;
    case LinkState::KeyHeld: return ReceiveIcon;
    case LinkState::NotConnected: return NotConnectedIcon;
    case LinkState::Error: return ErrorIcon;
    }
    return MainIcon;
}

void ShowLinkState(LinkState state)
{
    ShownState = state;
    TrayModify(MainWindow, 0, NIF_ICON, LinkStatePicture(state), TRAY_TIP);
}

void ShowLinkReason(const std::string& reason)
{
    const std::string tip = reason.empty() ? std::string(TRAY_TIP) : TRAY_TIP + (": " + reason);
    if (tip == TrayTip) return;
    TrayTip = tip;
    TrayModify(MainWindow, 0, NIF_TIP, nullptr, TrayTip.c_str());
}

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
    TrayPicture = icon;
    if (tip) TrayTip = tip;
    TrayShown = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
    return TrayShown;
}

bool TrayModify(HWND window, UINT id, UINT flags, HICON icon, const char* tip)
{
    NOTIFYICONDATAA data = TrayRecord(window, id, flags, icon, 0, tip);
    if (flags & NIF_ICON) TrayPicture = icon;
    // A failed change means the shell no longer has the icon.
    if (Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE) return true;
    TrayShown = false;
    return false;
}

bool TrayDelete(HWND window, UINT id)
{
    NOTIFYICONDATAA data = TrayRecord(window, id, 0, nullptr, 0, nullptr);
    TrayShown = false;
    TrayPicture = nullptr;
    return Shell_NotifyIconA(NIM_DELETE, &data) != FALSE;
}

LinkState ShownLinkState()
{
    return ShownState;
}

std::string ShownTrayTip()
{
    return TrayTip;
}

UINT TaskbarCreatedMessage()
{
    // Registered on first use (a plain variable, not a guarded local static:
    // the guard would pull the threads library into the program).
    if (!TaskbarCreated) TaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    return TaskbarCreated;
}

void TrayRestore(HWND window, bool evenIfShown)
{
    if (!TrayPicture || (TrayShown && !evenIfShown)) return;
    const std::string tip = TrayTip;
    if (TrayAdd(window, 0, TrayPicture, MSG_TRAYNOTIFY, tip.c_str())) return;
    // Refused because the shell has it after all: then it is shown.
    TrayShown = TrayModify(window, 0, NIF_ICON, TrayPicture, TRAY_TIP);
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
    // The keypad page's item, in the menu's language, under the settings item.
    wchar_t keypad[64];
    if (LoadStringW(GetModuleHandleA(nullptr), IDS_KEYPAD_MENU, keypad, 64) > 0)
        InsertMenuW(popup, 1, MF_BYPOSITION | MF_STRING, IDM_KEYPAD, keypad);
    POINT at = {0, 0};
    GetCursorPos(&at);
    // Without this the menu does not close when the user clicks elsewhere.
    SetForegroundWindow(MainWindow);
    TrackPopupMenu(popup, TPM_CENTERALIGN, at.x, at.y, 0, owner, nullptr);
    // Lets the menu close properly; without it the next opening may flash shut.
    PostMessageA(owner, WM_NULL, 0, 0);
}
