// The least a program can do to listen on a serial port under Wine: open it
// with the same settings and wait for events. Its CPU is the floor that
// Wine's serial waits set. A press of key 5 goes to the player window at
// once, as the program's mapped command would: the floor of the time from
// a report to its action. Runs until killed or for the given seconds.
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

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    HANDLE port = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return 1;
    std::string refused;
    ConfigurePort(port, refused);
    OVERLAPPED o = {};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(argv[2])) * 1000;
    std::string line;
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        DWORD mask = 0;
        ResetEvent(o.hEvent);
        if (!WaitCommEvent(port, &mask, &o) && GetLastError() != ERROR_IO_PENDING) {
            Sleep(10);
            continue;
        }
        if (WaitForSingleObject(o.hEvent, end - GetTickCount()) != WAIT_OBJECT_0) break;
        char buf[256];
        DWORD got = 0;
        OVERLAPPED r = {};
        r.hEvent = o.hEvent;
        if (!ReadFile(port, buf, sizeof buf, &got, &r) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(port, &r, &got, TRUE);
        TakeBytes(buf, got, line);
    }
    // The wait may still be pending and must end before o goes.
    CancelIo(port);
    DWORD unused = 0;
    GetOverlappedResult(port, &o, &unused, TRUE);
    CloseHandle(port);
    return 0;
}
