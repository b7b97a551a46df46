#include "serial_io.h"

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

HANDLE CreatePortHandle(const std::string& name)
{
    return CreateFileA(PortPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

HANDLE OpenConfiguredPort(const std::string& name)
{
    const HANDLE port = CreatePortHandle(name);
    if (port != INVALID_HANDLE_VALUE) ConfigurePort(port);
    return port;
}

WriteStart StartWrite(HANDLE port, OVERLAPPED& o, const std::string& bytes)
{
    ResetEvent(o.hEvent);
    DWORD written = 0;
    if (WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &o))
        return WriteStart::Done;
    return GetLastError() == ERROR_IO_PENDING ? WriteStart::Pending : WriteStart::Failed;
}

bool SendLineBounded(HANDLE port, const std::string& text)
{
    const std::string bytes = text + "\r\n";
    OVERLAPPED o;
    ZeroMemory(&o, sizeof o);
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!o.hEvent) return false;
    const WriteStart start = StartWrite(port, o, bytes);
    bool ok = start == WriteStart::Done;
    if (start == WriteStart::Pending) {
        if (WaitForSingleObject(o.hEvent, IO_WAIT) != WAIT_OBJECT_0) CancelIo(port);
        DWORD written = 0;
        ok = GetOverlappedResult(port, &o, &written, TRUE) != 0;
    }
    // The reason, if any, outlives the event.
    const DWORD error = GetLastError();
    CloseHandle(o.hEvent);
    SetLastError(error);
    return ok;
}

bool CountQueued(HANDLE port, DWORD& queued)
{
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof status);
    if (!ClearCommError(port, &errors, &status)) return false;
    queued = status.cbInQue;
    return true;
}

ReadEnd ReadChunk(HANDLE port, OVERLAPPED& o, DWORD queued, char* chunk, DWORD& got)
{
    const DWORD wanted = queued < READ_CHUNK_SIZE ? queued : READ_CHUNK_SIZE;
    got = 0;
    ResetEvent(o.hEvent);
    if (ReadFile(port, chunk, wanted, &got, &o)) return ReadEnd::Read;
    if (GetLastError() != ERROR_IO_PENDING) return ReadEnd::Refused;
    const bool cancelled = WaitForSingleObject(o.hEvent, IO_WAIT) != WAIT_OBJECT_0;
    if (cancelled) CancelIo(port);
    if (GetOverlappedResult(port, &o, &got, TRUE)) return ReadEnd::Read;
    got = 0;
    return cancelled ? ReadEnd::Read : ReadEnd::FailedLater;
}

void EndPendingWait(HANDLE port, HANDLE done)
{
    SetCommMask(port, 0);
    while (WaitForSingleObject(done, 100) == WAIT_TIMEOUT) SetCommMask(port, 0);
}
