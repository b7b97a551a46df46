#include "link.h"

HANDLE PortHandle = INVALID_HANDLE_VALUE;

namespace {
// Written by the main thread before the first reader starts; read by both.
HWND LinkWindow = nullptr;
void (*ShowLinkError)(const char*) = nullptr;
} // namespace

void SetLinkReports(HWND window, void (*showError)(const char* text))
{
    LinkWindow = window;
    ShowLinkError = showError;
}

void ReportSilentLink()
{
    PostMessageA(LinkWindow, MSG_RECONNECT, 0, 0);
}

bool ReportPortOpened()
{
    return PostMessageA(LinkWindow, MSG_PORTOPENED, 0, 0) != 0;
}

void ReportLinkError(const char* text)
{
    if (ShowLinkError) ShowLinkError(text);
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

HANDLE CreatePortHandle(const std::string& name)
{
    return CreateFileA(PortPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

void StartLink(HANDLE port, const std::string& initString)
{
    PortHandle = port;
    ConfigurePort(PortHandle);
    PrepareReads();
    PrepareWrites();
    StartReader();
    SendToPort(initString);
}

bool OpenPort(const std::string& name, const std::string& initString)
{
    const HANDLE port = CreatePortHandle(name);
    if (port == INVALID_HANDLE_VALUE) return false;
    StartLink(port, initString);
    return true;
}

void ClosePort()
{
    if (PortHandle == INVALID_HANDLE_VALUE && !RunningReader()) return;
    EndPendingWrite();
    EndReaderThread();
    if (PortHandle != INVALID_HANDLE_VALUE) CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
    FreeReads();
    FreeWrites();
}
