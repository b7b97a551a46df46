#include "link.h"

#include <atomic>

namespace {

// The open under way: its thread, and what it opens, set before it starts.
// Main thread.
HANDLE OpenerThread = nullptr;
std::string OpeningName;
PortOpening OpenFunction = CreatePortHandle;
// The hand-over. The opener puts the port here, the main thread takes it;
// whichever sees the other's step first closes an abandoned port.
std::atomic<HANDLE> OpenedPort{INVALID_HANDLE_VALUE};
std::atomic<DWORD> OpenError{0};
std::atomic<bool> OpenAbandoned{false};
// Set by the opener once its MSG_PORTOPENED is on its way, cleared when the
// main thread takes the result: until then no new open may start, or the
// message would take the next opener's result (and wait for its end).
std::atomic<bool> OpenPosted{false};

DWORD WINAPI OpenOnItsThread(LPVOID)
{
    const HANDLE port = OpenFunction(OpeningName);
    OpenError = port == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    OpenedPort.exchange(port);
    OpenPosted = true;
    if (!OpenAbandoned && ReportPortOpened()) return 0;
    OpenPosted = false;
    // Nobody will take it: Exit came first, or the window is gone.
    const HANDLE left = OpenedPort.exchange(INVALID_HANDLE_VALUE);
    if (left != INVALID_HANDLE_VALUE) CloseHandle(left);
    return 0;
}

bool OpenerEnded(DWORD waitMs)
{
    if (!OpenerThread) return true;
    if (WaitForSingleObject(OpenerThread, waitMs) != WAIT_OBJECT_0) return false;
    CloseHandle(OpenerThread);
    OpenerThread = nullptr;
    return true;
}

} // namespace

bool BeginOpenPort(const std::string& name, PortOpening open)
{
    if (OpenPosted || !OpenerEnded(0)) return false;
    OpeningName = name;
    OpenFunction = open;
    OpenAbandoned = false;
    OpenError = 0;
    const HANDLE stale = OpenedPort.exchange(INVALID_HANDLE_VALUE);
    if (stale != INVALID_HANDLE_VALUE) CloseHandle(stale);
    OpenerThread = CreateThread(nullptr, 0, OpenOnItsThread, nullptr, 0, nullptr);
    return OpenerThread != nullptr;
}

HANDLE TakeOpenedPort(DWORD& error)
{
    // The opener posts as its last step: it is ending.
    OpenerEnded(INFINITE);
    OpenPosted = false;
    error = OpenError;
    return OpenedPort.exchange(INVALID_HANDLE_VALUE);
}

bool OpenUnderWay()
{
    return !OpenerEnded(0);
}

bool AbandonOpenPort(DWORD waitMs)
{
    if (!OpenerThread) return true;
    OpenAbandoned = true;
    // Ends a CreateFile still waiting in a driver that allows it.
    CancelSynchronousIo(OpenerThread);
    const bool ended = OpenerEnded(waitMs);
    OpenPosted = false;
    const HANDLE left = OpenedPort.exchange(INVALID_HANDLE_VALUE);
    if (left != INVALID_HANDLE_VALUE) CloseHandle(left);
    return ended;
}
