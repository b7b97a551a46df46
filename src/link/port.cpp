#include "link.h"

#include "../actions/actions.h"
#include "../app/app.h"

const char* const DEFAULT_INIT_STRING = "ATZ\r\nAT+CMER=3,2\r\n";
std::string PhoneInitString = DEFAULT_INIT_STRING;

HANDLE PortHandle = INVALID_HANDLE_VALUE;
HANDLE ReaderThread = nullptr;
OVERLAPPED ReadOverlapped;
HANDLE ReadEvent = nullptr;
OVERLAPPED WriteOverlapped;
HANDLE WriteEvent = nullptr;
std::atomic<bool> StopReader{false};

namespace {
bool Reconnecting = false;
}

void ConfigurePort(HANDLE port)
{
    // Wake the reader for arriving bytes and for a drained send alike: both
    // prove the link is alive.
    SetCommMask(port, EV_RXCHAR | EV_TXEMPTY);
    SetupComm(port, 256, 256);
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);

    // A read returns at once with whatever is queued; writes never time out.
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    SetCommTimeouts(port, &timeouts);
}

std::string PortPath(const std::string& name)
{
    // Only COM1 to COM9 are reserved device names; from COM10 up the system
    // finds a port only in the device namespace. COM1 to COM9 open either way.
    if (name.size() < 4 || CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.c_str(), 3,
                                          "COM", 3) != CSTR_EQUAL)
        return name;
    for (size_t i = 3; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return name;
    return "\\\\.\\" + name;
}

bool OpenPort(const std::string& name)
{
    PortHandle = CreateFileA(PortPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (PortHandle == INVALID_HANDLE_VALUE) return false;

    ConfigurePort(PortHandle);

    ZeroMemory(&ReadOverlapped, sizeof ReadOverlapped);
    ZeroMemory(&WriteOverlapped, sizeof WriteOverlapped);
    ReadEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ReadOverlapped.hEvent = ReadEvent;
    WriteEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WriteOverlapped.hEvent = WriteEvent;

    StopReader = false;
    DWORD threadId = 0;
    ReaderThread = CreateThread(nullptr, 0, PortReaderThread, nullptr, 0, &threadId);
    SetThreadPriority(ReaderThread, THREAD_PRIORITY_LOWEST);

    SendToPort(PhoneInitString);
    TrayModify(MainWindow, 0, NIF_ICON, MainIcon, TRAY_TIP);
    return true;
}

void ClosePort()
{
    if (PortHandle == INVALID_HANDLE_VALUE && !ReaderThread) return;
    EndPendingWrite();
    StopReader = true;
    if (ReaderThread) {
        // Clearing the mask completes the reader's pending WaitCommEvent.
        SetCommMask(PortHandle, 0);
        Sleep(10);
        // Repeat the nudge in case the wait began after the first one.
        while (WaitForSingleObject(ReaderThread, 100) == WAIT_TIMEOUT) SetCommMask(PortHandle, 0);
        CloseHandle(ReaderThread);
        ReaderThread = nullptr;
    }
    if (PortHandle != INVALID_HANDLE_VALUE) CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
    if (ReadEvent) CloseHandle(ReadEvent);
    ReadEvent = nullptr;
    if (WriteEvent) CloseHandle(WriteEvent);
    WriteEvent = nullptr;
}

namespace {

// Waits about a second while dispatching messages. False when a WM_QUIT
// came (posted again for the main loop) or the window is gone.
bool PauseBetweenAttempts()
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!IsWindow(MainWindow)) return false;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= 1000) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000 - elapsed, QS_ALLINPUT);
    }
}

} // namespace

void ReconnectPort()
{
    // A message dispatched between attempts must not start a second round.
    if (Reconnecting) return;
    Reconnecting = true;
    TrayModify(MainWindow, 0, NIF_ICON, NotConnectedIcon, TRAY_TIP);
    // The release line of a held key may never come over a dead link.
    MouseDeltaX = 0;
    MouseDeltaY = 0;
    VolumeStep = 0;
    ClosePort();
    while (!OpenPort(PortName))
        if (!PauseBetweenAttempts()) break;
    Reconnecting = false;
}
