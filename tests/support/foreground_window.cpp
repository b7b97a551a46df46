// Test helper: a visible window that takes the foreground, so that its
// program (copied under several names) is the one in the foreground.
// Ends on WM_CLOSE.
#include <windows.h>

namespace {

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int main()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuorvixTestForeground";
    RegisterClassA(&wc);
    HWND window = CreateWindowA(wc.lpszClassName, "foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                10, 10, 200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) return 1;
    SetForegroundWindow(window);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}
