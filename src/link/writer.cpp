#include "link.h"
#include "link_testing.h"

namespace {

// The write in flight owns these until it has ended. Main thread only.
OVERLAPPED WriteOverlapped;
HANDLE WriteEvent = nullptr;
// Its bytes; they must outlive SendToPort.
std::string PendingWrite;
bool WriteErrorShown = false;
// Set when WriteFile left the write pending, until its event is seen set.
// WriteOverlapped alone cannot tell: WriteFile marks it pending before it
// starts, and a write refused at once leaves that mark.
bool WriteOutstanding = false;

bool WriteStillOutstanding()
{
    if (WriteOutstanding && WaitForSingleObject(WriteEvent, 0) != WAIT_TIMEOUT)
        WriteOutstanding = false;
    return WriteOutstanding;
}

} // namespace

void PrepareWrites()
{
    ZeroMemory(&WriteOverlapped, sizeof WriteOverlapped);
    WriteEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WriteOverlapped.hEvent = WriteEvent;
}

void FreeWrites()
{
    if (WriteEvent) CloseHandle(WriteEvent);
    WriteEvent = nullptr;
}

bool WriteInFlight()
{
    return WriteOverlapped.Internal == static_cast<ULONG_PTR>(STATUS_PENDING);
}

void EndPendingWrite()
{
    if (PortHandle == INVALID_HANDLE_VALUE || !WriteStillOutstanding()) return;
    // CancelIo reaches what this thread started, the write; PURGE_TXABORT
    // ends a serial write whoever started it. Either way the write has only
    // ended once its event says so: until then the system may still read
    // PendingWrite and write WriteOverlapped.
    CancelIo(PortHandle);
    PurgeComm(PortHandle, PURGE_TXABORT | PURGE_TXCLEAR);
    DWORD written = 0;
    GetOverlappedResult(PortHandle, &WriteOverlapped, &written, TRUE);
    WriteOutstanding = false;
}

void SendToPort(const std::string& text)
{
    if (PortHandle == INVALID_HANDLE_VALUE) return;
    // Keep-alives repeat themselves: while a write hangs on a stalled link
    // the new one is dropped rather than queued or waited for.
    if (WriteStillOutstanding()) return;
    PendingWrite = text + "\r\n";
    const WriteStart start = StartWrite(PortHandle, WriteOverlapped, PendingWrite);
    if (start == WriteStart::Pending) {
        WriteOutstanding = true;
    } else if (start == WriteStart::Failed) {
        // The box's modal loop dispatches WM_TIMER, whose send may fail again.
        if (WriteErrorShown) return;
        WriteErrorShown = true;
        ReportLinkError("WriteFile failed");
        WriteErrorShown = false;
    }
}
