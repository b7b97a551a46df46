#include "serial_io.h"

#include "../util/system_message.h"

std::string PortPath(const std::string& name)
{
    // From COM10 up, and for names such as CNCA0, the system finds a port
    // only in the device namespace; COM1 to COM9 open either way.
    if (name.find('\\') != std::string::npos) return name;
    return "\\\\.\\" + name;
}

void SetLineSettings(DCB& dcb)
{
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // Another program may have left hardware or XON/XOFF flow control on:
    // the phone's virtual port would then hold every byte.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // With it on, one line error stops every read and write until cleared.
    dcb.fAbortOnError = FALSE;
}

bool ConfigurePort(HANDLE port, std::string& why)
{
    why.clear();
    // Wake the reader for arriving bytes and for a drained send alike: both
    // prove the link is alive.
    SetCommMask(port, EV_RXCHAR | EV_TXEMPTY);
    SetupComm(port, 256, 256);
    PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.DCBlength = sizeof dcb;
    SetLineSettings(dcb);
    if (!SetCommState(port, &dcb))
        why = "it refused its line settings (9600 8N1): " + SystemMessage(GetLastError());

    // A read returns at once with whatever is queued; writes never time out.
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(port, &timeouts) && why.empty())
        why = "it refused its time-outs: " + SystemMessage(GetLastError());
    return why.empty();
}

HANDLE CreatePortHandle(const std::string& name)
{
    return CreateFileA(PortPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

HANDLE OpenConfiguredPort(const std::string& name, std::string& why)
{
    why.clear();
    const HANDLE port = CreatePortHandle(name);
    if (port == INVALID_HANDLE_VALUE) return port;
    ConfigurePort(port, why);
    return port;
}

bool PhoneUnreachable(DWORD error)
{
    // 121 after seconds of the stack trying to reach a phone that is off or
    // away, 1167 at logon before the radio is up, 31 from some stacks, 995
    // an open that was cancelled; 1460, 1236 and 21 from other drivers.
    return error == ERROR_SEM_TIMEOUT || error == ERROR_DEVICE_NOT_CONNECTED ||
           error == ERROR_GEN_FAILURE || error == ERROR_OPERATION_ABORTED ||
           error == ERROR_TIMEOUT || error == ERROR_CONNECTION_ABORTED || error == ERROR_NOT_READY;
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
