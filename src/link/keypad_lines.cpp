#include "keypad.h"

#include <windows.h>

#include <atomic>
#include <deque>

namespace {

// Queued by the server thread, taken by the main thread; both only while
// holding LinesLock, and only for the access.
std::deque<std::string> Lines;
CRITICAL_SECTION LinesLock;
struct LinesLockOwner {
    LinesLockOwner() { InitializeCriticalSection(&LinesLock); }
    ~LinesLockOwner() { DeleteCriticalSection(&LinesLock); }
} LinesLockInstance;

// The taking thread, set and forgotten by that thread while no server runs.
// One wake queued at most: set by the server thread when it queues one,
// cleared on the taking thread when it has run.
HANDLE Taker = nullptr;
std::atomic<bool> WakeQueued{false};

void CALLBACK LineQueued(ULONG_PTR)
{
    WakeQueued = false;
}

} // namespace

void SetKeypadTaker()
{
    if (!Taker)
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &Taker,
                        THREAD_SET_CONTEXT, FALSE, 0);
}

void ForgetKeypadTaker()
{
    if (Taker) CloseHandle(Taker);
    Taker = nullptr;
}

bool QueueKeypadLine(const std::string& line, bool evenIfFull)
{
    EnterCriticalSection(&LinesLock);
    const bool room = evenIfFull || Lines.size() < KEYPAD_LINE_LIMIT;
    if (room) Lines.push_back(line);
    LeaveCriticalSection(&LinesLock);
    // Ends the idle pass's pause, so that the press is acted on at once.
    if (room && Taker && !WakeQueued.exchange(true) && !QueueUserAPC(LineQueued, Taker, 0))
        WakeQueued = false;
    return room;
}

bool TakeKeypadLine(std::string& line)
{
    EnterCriticalSection(&LinesLock);
    const bool taken = !Lines.empty();
    if (taken) {
        line = Lines.front();
        Lines.pop_front();
    }
    LeaveCriticalSection(&LinesLock);
    return taken;
}

size_t KeypadLinesWaiting()
{
    EnterCriticalSection(&LinesLock);
    const size_t waiting = Lines.size();
    LeaveCriticalSection(&LinesLock);
    return waiting;
}
