#include "link.h"

#include "../app/app.h"

std::string ReceiveBuffer;
CRITICAL_SECTION ReceiveLock;
DWORD LastReceiveTick = 0;

namespace {

// The lock lives for the whole program, ready before main runs.
struct ReceiveLockOwner {
    ReceiveLockOwner() { InitializeCriticalSection(&ReceiveLock); }
    ~ReceiveLockOwner() { DeleteCriticalSection(&ReceiveLock); }
} ReceiveLockInstance;

// The bytes of the write in flight; they must outlive SendToPort.
std::string PendingWrite;
bool WriteErrorShown = false;

bool WritePending()
{
    return WriteOverlapped.Internal == static_cast<ULONG_PTR>(STATUS_PENDING) &&
           WaitForSingleObject(WriteEvent, 0) == WAIT_TIMEOUT;
}

} // namespace

void SendToPort(const std::string& text)
{
    if (PortHandle == INVALID_HANDLE_VALUE) return;
    // Keep-alives repeat themselves: while a write hangs on a stalled link
    // the new one is dropped rather than queued or waited for.
    if (WritePending()) return;
    PendingWrite = text + "\r\n";
    ResetEvent(WriteEvent);
    DWORD written = 0;
    if (!WriteFile(PortHandle, PendingWrite.data(), static_cast<DWORD>(PendingWrite.size()),
                   &written, &WriteOverlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        // The box's modal loop dispatches WM_TIMER, whose send may fail again.
        if (WriteErrorShown) return;
        WriteErrorShown = true;
        ShowError("WriteFile failed");
        WriteErrorShown = false;
    }
}

void AppendReceived(const char* bytes, DWORD count)
{
    DWORD n = 0;
    while (n < count && bytes[n] != '\0') ++n;
    if (n == 0) return;
    EnterCriticalSection(&ReceiveLock);
    ReceiveBuffer.append(bytes, n);
    if (ReceiveBuffer.size() > RECEIVE_LIMIT)
        ReceiveBuffer.erase(0, ReceiveBuffer.size() - RECEIVE_LIMIT);
    LastReceiveTick = GetTickCount();
    LeaveCriticalSection(&ReceiveLock);
}

namespace {

enum class Wake { Event, Quiet, TimedOut, Failed };

// One wait for a port event, at most until the watchdog's deadline.
Wake WaitForPortEvent(DWORD& mask, DWORD remaining)
{
    mask = 0;
    if (!WaitCommEvent(PortHandle, &mask, &ReadOverlapped) && GetLastError() != ERROR_IO_PENDING)
        return Wake::Quiet;
    switch (WaitForSingleObject(ReadEvent, remaining)) {
    case WAIT_OBJECT_0: break;
    case WAIT_TIMEOUT:
        // The wait must not outlive this thread's use of ReadOverlapped.
        CancelIo(PortHandle);
        return Wake::TimedOut;
    default: return Wake::Failed;
    }
    DWORD count = 0;
    if (!GetOverlappedResult(PortHandle, &ReadOverlapped, &count, FALSE)) return Wake::Quiet;
    return (mask & (EV_RXCHAR | EV_TXEMPTY)) ? Wake::Event : Wake::Quiet;
}

// Reads what is queued, at most one chunk; a read the driver leaves pending
// is completed (or cancelled) before ReadOverlapped is used again.
void ReadQueued(DWORD queued)
{
    char chunk[READ_CHUNK_SIZE];
    ZeroMemory(chunk, sizeof chunk);
    const DWORD wanted = queued < READ_CHUNK_SIZE ? queued : READ_CHUNK_SIZE;
    DWORD got = 0;
    if (!ReadFile(PortHandle, chunk, wanted, &got, &ReadOverlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            ShowError("Error reading port");
            return;
        }
        if (WaitForSingleObject(ReadEvent, 1000) != WAIT_OBJECT_0) CancelIo(PortHandle);
        if (!GetOverlappedResult(PortHandle, &ReadOverlapped, &got, TRUE)) got = 0;
    }
    AppendReceived(chunk, got);
}

} // namespace

DWORD WINAPI PortReaderThread(LPVOID)
{
    // The watchdog counts from the last byte or drained send; wakes that
    // bring neither do not restart it.
    DWORD lastActivity = GetTickCount();
    while (!StopReader) {
        const DWORD idle = GetTickCount() - lastActivity;
        DWORD mask = 0;
        const Wake wake =
            idle >= READER_WAIT_TIMEOUT ? Wake::TimedOut
                                        : WaitForPortEvent(mask, READER_WAIT_TIMEOUT - idle);
        if (wake == Wake::TimedOut) {
            // A stop request is not a silent link.
            if (!StopReader) PostMessageA(MainWindow, MSG_RECONNECT, 0, 0);
            break;
        }
        if (wake == Wake::Failed) break;
        if (wake == Wake::Quiet) {
            // A port whose waits keep failing must not spin.
            Sleep(10);
            continue;
        }
        lastActivity = GetTickCount();
        DWORD errors = 0;
        COMSTAT status;
        ZeroMemory(&status, sizeof status);
        if (!ClearCommError(PortHandle, &errors, &status)) {
            // Without a count of queued bytes there is nothing safe to read.
            ShowError("Error clearing port");
            continue;
        }
        if (!(mask & EV_RXCHAR) || status.cbInQue == 0) continue;
        ReadQueued(status.cbInQue);
    }
    return 0;
}
