#include "link.h"
#include "link_testing.h"

#include <atomic>

DWORD ReaderWaitTimeout = READER_WAIT_TIMEOUT;

namespace {

// The running reader: started and ended by the main thread.
HANDLE ReaderThread = nullptr;
// The reader's wait or read owns these until it has completed: the reader
// thread while it runs, the main thread otherwise. Not on the reader's
// stack: the system writes them when the operation completes, which may be
// after the cycle, or the thread, that started it has ended.
OVERLAPPED ReadOverlapped;
HANDLE ReadEvent = nullptr;
// The event mask the reader's WaitCommEvent fills.
DWORD WaitMask = 0;
// Set by the main thread, read by the reader at the top of each cycle.
std::atomic<bool> StopReader{false};
// The thread that takes the text (the main thread, which starts the
// reader): text that arrives ends its alertable pause at once instead of at
// the pass's end. One wake queued at most: set by the reader when it
// queues one, cleared on the main thread when it has run.
HANDLE TakerThread = nullptr;
std::atomic<bool> WakeQueued{false};

void CALLBACK TextArrived(ULONG_PTR)
{
    WakeQueued = false;
}

void WakeTaker()
{
    if (TakerThread && !WakeQueued.exchange(true) && !QueueUserAPC(TextArrived, TakerThread, 0))
        WakeQueued = false;
}

enum class Wake { Event, Quiet, TimedOut, Failed };

// Waits that fail at once (a vanished port) are retried ever more slowly:
// Wine starts a thread for every overlapped WaitCommEvent, so a retry every
// 10 ms costs a tenth of a core and more.
const DWORD QUIET_PAUSE_FIRST = 10;
const DWORD QUIET_PAUSE_LIMIT = 100;
const DWORD QUEUE_CHECK_PERIOD = 1000;

// Ends the reader's pending wait and collects it, so that nothing still
// writes into WaitMask or ReadOverlapped once the reader has moved on.
void FinishPendingWait()
{
    EndPendingWait(PortHandle, ReadEvent);
    DWORD count = 0;
    GetOverlappedResult(PortHandle, &ReadOverlapped, &count, FALSE);
}

// One wait for a port event, at most until the watchdog's deadline. Windows
// signals EV_RXCHAR when bytes arrive, not while they wait: bytes that came
// while no wait was pending would wait for the phone's next byte, so the
// queue is looked at every QUEUE_CHECK_PERIOD meanwhile.
Wake WaitForPortEvent(DWORD remaining)
{
    WaitMask = 0;
    if (!WaitCommEvent(PortHandle, &WaitMask, &ReadOverlapped) && GetLastError() != ERROR_IO_PENDING)
        return Wake::Quiet;
    for (;;) {
        const DWORD slice = remaining < QUEUE_CHECK_PERIOD ? remaining : QUEUE_CHECK_PERIOD;
        const DWORD waited = WaitForSingleObject(ReadEvent, slice);
        if (waited == WAIT_OBJECT_0) break;
        if (waited != WAIT_TIMEOUT) return Wake::Failed;
        remaining -= slice;
        if (remaining == 0) {
            // The link is given up; the port is closed and opened again after
            // this thread has ended, and the wait must not outlive it.
            FinishPendingWait();
            return Wake::TimedOut;
        }
        // A port that cannot tell is the watchdog's business, not a box's.
        DWORD queued = 0;
        if (!StopReader && CountQueued(PortHandle, queued) && queued > 0) {
            // Bytes nobody signalled: end the wait (which clears the event
            // mask) and set the mask again, then read them.
            FinishPendingWait();
            SetCommMask(PortHandle, EV_RXCHAR | EV_TXEMPTY);
            return Wake::Event;
        }
    }
    DWORD count = 0;
    if (!GetOverlappedResult(PortHandle, &ReadOverlapped, &count, FALSE)) return Wake::Quiet;
    return (WaitMask & (EV_RXCHAR | EV_TXEMPTY)) ? Wake::Event : Wake::Quiet;
}

// Reads what is queued, at most one chunk. False when nothing came or the
// read failed. A read that failed after it was accepted is left to the
// watchdog, like a failed wait: the port is going, and one box is enough.
bool ReadQueued(DWORD queued)
{
    char chunk[READ_CHUNK_SIZE];
    DWORD got = 0;
    if (ReadChunk(PortHandle, ReadOverlapped, queued, chunk, got) == ReadEnd::Refused) {
        ReportLinkError("Error reading port");
        return false;
    }
    AppendReceived(chunk, got);
    if (got > 0) WakeTaker();
    return got > 0;
}

} // namespace

unsigned ReadAllQueued()
{
    unsigned reads = 0;
    while (!StopReader) {
        DWORD queued = 0;
        if (!CountQueued(PortHandle, queued)) {
            // Without a count of queued bytes there is nothing safe to read.
            ReportLinkError("Error clearing port");
            break;
        }
        if (queued == 0 || !ReadQueued(queued)) break;
        ++reads;
    }
    return reads;
}

DWORD WINAPI PortReaderThread(LPVOID)
{
    // The watchdog counts from the last byte or drained send; wakes that
    // bring neither do not restart it.
    DWORD lastActivity = GetTickCount();
    DWORD quietPause = QUIET_PAUSE_FIRST;
    // Bytes that came before the first wait are never signalled; later ones
    // left behind by a wake are found by the wait's queue check.
    ReadAllQueued();
    while (!StopReader) {
        const DWORD idle = GetTickCount() - lastActivity;
        const Wake wake =
            idle >= ReaderWaitTimeout ? Wake::TimedOut : WaitForPortEvent(ReaderWaitTimeout - idle);
        if (wake == Wake::TimedOut) {
            // A stop request is not a silent link.
            if (!StopReader) ReportSilentLink();
            break;
        }
        if (wake == Wake::Failed) break;
        if (wake == Wake::Quiet) {
            // A port whose waits keep failing must not spin.
            Sleep(quietPause);
            quietPause = quietPause * 2 < QUIET_PAUSE_LIMIT ? quietPause * 2 : QUIET_PAUSE_LIMIT;
            continue;
        }
        quietPause = QUIET_PAUSE_FIRST;
        lastActivity = GetTickCount();
        ReadAllQueued();
    }
    return 0;
}

void PrepareReads()
{
    ZeroMemory(&ReadOverlapped, sizeof ReadOverlapped);
    ReadEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ReadOverlapped.hEvent = ReadEvent;
    StopReader = false;
}

bool StartReader()
{
    if (!TakerThread)
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &TakerThread,
                        THREAD_SET_CONTEXT, FALSE, 0);
    DWORD threadId = 0;
    ReaderThread = CreateThread(nullptr, 0, PortReaderThread, nullptr, 0, &threadId);
    SetThreadPriority(ReaderThread, THREAD_PRIORITY_LOWEST);
    return ReaderThread != nullptr;
}

void EndReaderThread()
{
    StopReader = true;
    if (!ReaderThread) return;
    EndPendingWait(PortHandle, ReaderThread);
    CloseHandle(ReaderThread);
    ReaderThread = nullptr;
}

void FreeReads()
{
    if (ReadEvent) CloseHandle(ReadEvent);
    ReadEvent = nullptr;
    // A wake still queued runs regardless: it belongs to the thread.
    if (TakerThread) CloseHandle(TakerThread);
    TakerThread = nullptr;
}

HANDLE RunningReader()
{
    return ReaderThread;
}

bool ReadInFlight()
{
    return ReadOverlapped.Internal == static_cast<ULONG_PTR>(STATUS_PENDING) ||
           (ReadEvent && WaitForSingleObject(ReadEvent, 0) != WAIT_OBJECT_0);
}
