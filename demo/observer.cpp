// Demo helper: shows what Quorvix does, as another program sees it. Stands in
// for the player window, watches input with low-level hooks and prints each
// event. With --close it asks a running Quorvix to end instead.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "player_window.h"

namespace {

void Say(const char* text)
{
    std::printf("observer: %s\n", text);
    std::fflush(stdout);
}

void SayCommand(WPARAM wp, LPARAM lp)
{
    char b[96];
    std::snprintf(b, sizeof b, "player window got WM_COMMAND %u (lParam %ld)",
                  static_cast<unsigned>(wp), static_cast<long>(lp));
    Say(b);
}

LRESULT CALLBACK KeyHook(int code, WPARAM wp, LPARAM lp)
{
    if (code == HC_ACTION) {
        auto* k = reinterpret_cast<KBDLLHOOKSTRUCT*>(lp);
        char b[96];
        std::snprintf(b, sizeof b, "key 0x%02lX %s", k->vkCode, (k->flags & LLKHF_UP) ? "up" : "down");
        Say(b);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK MouseHook(int code, WPARAM wp, LPARAM lp)
{
    if (code == HC_ACTION && wp != WM_MOUSEMOVE) {
        const char* what = wp == WM_LBUTTONDOWN ? "left button down" : wp == WM_LBUTTONUP ? "left button up"
                         : wp == WM_RBUTTONDOWN ? "right button down" : wp == WM_RBUTTONUP ? "right button up"
                         : "other mouse event";
        Say(what);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "--close") {
        HWND w = FindWindowA("Quorvix", nullptr);
        if (w) PostMessageA(w, WM_CLOSE, 0, 0);
        return w ? 0 : 1;
    }
    CreatePlayerWindow(SayCommand);
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    SetWindowsHookExA(WH_KEYBOARD_LL, KeyHook, instance, 0);
    SetWindowsHookExA(WH_MOUSE_LL, MouseHook, instance, 0);
    POINT last = {};
    GetCursorPos(&last);
    Say("watching");
    const DWORD end = GetTickCount() + (argc > 1 ? static_cast<DWORD>(atoi(argv[1])) * 1000u : 3600000u);
    while (GetTickCount() < end) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        POINT now;
        if (GetCursorPos(&now) && (now.x != last.x || now.y != last.y)) {
            char b[96];
            std::snprintf(b, sizeof b, "cursor moved to %ld,%ld", now.x, now.y);
            Say(b);
            last = now;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return 0;
}
