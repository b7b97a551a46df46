#include "player_window.h"

std::vector<std::pair<WPARAM, LPARAM>> PlayerMessages;

namespace {

void (*Listener)(WPARAM, LPARAM) = nullptr;

LRESULT CALLBACK PlayerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_COMMAND) {
        PlayerMessages.push_back({wp, lp});
        if (Listener) Listener(wp, lp);
    }
    return DefWindowProcA(w, m, wp, lp);
}

} // namespace

HWND CreatePlayerWindow(void (*listener)(WPARAM, LPARAM))
{
    PlayerMessages.clear();
    Listener = listener;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlayerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Winamp v1.x";
    RegisterClassA(&wc);
    return CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                           nullptr);
}

std::vector<WPARAM> PlayerCommands()
{
    std::vector<WPARAM> numbers;
    for (const auto& m : PlayerMessages) numbers.push_back(m.first);
    return numbers;
}
