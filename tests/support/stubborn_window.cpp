// A program that plays a Quorvix that will not end: a hidden window of the
// program's class that ignores WM_CLOSE. Runs until it is ended by force, or
// for the seconds given.
#include <windows.h>

#include <cstdlib>

namespace {

LRESULT CALLBACK IgnoringProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int main(int argc, char** argv)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = IgnoringProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Quorvix";
    RegisterClassA(&wc);
    if (!CreateWindowExA(0, "Quorvix", "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                         wc.hInstance, nullptr))
        return 1;
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 120;
    SetTimer(nullptr, 0, seconds * 1000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) break;
        DispatchMessageA(&msg);
    }
    return 0;
}
