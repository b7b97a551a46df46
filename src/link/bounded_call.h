#pragma once
// A call run on a thread of its own, so that whoever waits for it can stop
// waiting: an open that a Bluetooth stack holds for seconds while it looks
// for a phone that is off, a question to a port that hangs. The caller waits
// a bounded time (or until an event such as Ctrl+C), then takes the result
// or gives the call up: cancelled where the driver allows, waited for a
// bounded time more, and what it yields after that is released by its own
// thread. One record per call, shared by its caller and its thread.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

struct BoundedCall {
    // Set before the start. run keeps its results in what it captured;
    // release frees them when the call was given up; announce (may be
    // empty) tells that the call has ended. The last two run on the call's
    // thread.
    std::function<void()> run;
    std::function<void()> release;
    std::function<void()> announce;
    HANDLE thread = nullptr;
    // Running until the thread ends it; then taken or given up by the
    // caller, or given up while it ran (then the thread releases).
    enum State { Running, Ended, Taken, Abandoned };
    std::atomic<int> state{Running};
    BoundedCall() = default;
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;
    ~BoundedCall();
};

// Starts run on a thread of its own; null when no thread can be made.
std::shared_ptr<BoundedCall> StartBoundedCall(std::function<void()> run,
                                              std::function<void()> release,
                                              std::function<void()> announce = nullptr);
// True once the call's thread has ended; waits at most waitMs, and no
// longer than until stop (if given) is signalled.
bool CallEnded(const BoundedCall& call, DWORD waitMs, HANDLE stop = nullptr);
// The ended call's results are the caller's now: false when they were
// taken or given up before.
bool TakeCallResult(BoundedCall& call);
// An ended call's results wait to be taken.
bool CallResultWaiting(const BoundedCall& call);
// Gives the call up: its I/O cancelled where the driver allows, waited for
// at most waitMs. True when it had ended by then: its results are the
// caller's to use or release. Otherwise its thread releases them.
bool AbandonCall(BoundedCall& call, DWORD waitMs);
