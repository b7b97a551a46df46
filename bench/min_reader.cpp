// The least a program can do to listen on a serial port under Wine: open it
// with the same settings and wait for events. Its CPU is the floor that
// Wine's serial waits set. A press of key 5 goes to the player window at
// once, as the program's mapped command would: the floor of the time from
// a report to its action. With "loop" its main thread also runs the
// program's polling loop with nothing to do (a message, else a 10 ms
// alertable sleep): the idle floor that the program's design sets.
// Runs until killed or for the given seconds.
//   min_reader PORT SECONDS [loop]
#include <windows.h>

#include <cstdlib>
#include <string>

#include "link/link.h"

namespace {

void TakeBytes(const char* bytes, DWORD count, std::string& line)
{
    for (DWORD i = 0; i < count; ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n') {
            if (line.size() < 64) line += bytes[i];
            continue;
        }
        DWORD_PTR result = 0;
        if (line == "+CKEV: 5,1")
            if (HWND player = FindWindowA("Winamp v1.x", nullptr))
                SendMessageTimeoutA(player, WM_COMMAND, 40046, 1, SMTO_ABORTIFHUNG, 1000, &result);
        line.clear();
    }
}

struct Listening {
    HANDLE port;
    DWORD end;
};

DWORD WINAPI Listen(LPVOID parameter)
{
    const Listening& l = *static_cast<const Listening*>(parameter);
    OVERLAPPED o = {};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::string line;
    while (static_cast<LONG>(l.end - GetTickCount()) > 0) {
        DWORD mask = 0;
        ResetEvent(o.hEvent);
        if (!WaitCommEvent(l.port, &mask, &o) && GetLastError() != ERROR_IO_PENDING) {
            Sleep(10);
            continue;
        }
        const LONG left = static_cast<LONG>(l.end - GetTickCount());
        if (left <= 0 || WaitForSingleObject(o.hEvent, static_cast<DWORD>(left)) != WAIT_OBJECT_0) break;
        char buf[256];
        DWORD got = 0;
        OVERLAPPED r = {};
        r.hEvent = o.hEvent;
        if (!ReadFile(l.port, buf, sizeof buf, &got, &r) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(l.port, &r, &got, TRUE);
        TakeBytes(buf, got, line);
    }
    // The wait may still be pending and must end before o goes.
    CancelIo(l.port);
    DWORD unused = 0;
    GetOverlappedResult(l.port, &o, &unused, TRUE);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    HANDLE port = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return 1;
    std::string refused;
    ConfigurePort(port, refused);
    Listening l = {port, GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000};
    if (argc > 3 && std::string(argv[3]) == "loop") {
        HANDLE listener = CreateThread(nullptr, 0, Listen, &l, 0, nullptr);
        MSG msg;
        while (static_cast<LONG>(l.end - GetTickCount()) > 0) {
            if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            else
                SleepEx(10, TRUE);
        }
        if (listener) WaitForSingleObject(listener, INFINITE);
    } else {
        Listen(&l);
    }
    CloseHandle(port);
    return 0;
}
