#include "link.h"

#include "bounded_call.h"

namespace {

struct OpenResult {
    HANDLE port = INVALID_HANDLE_VALUE;
    DWORD error = 0;
};

void CloseOpened(OpenResult& result)
{
    if (result.port != INVALID_HANDLE_VALUE) CloseHandle(result.port);
    result.port = INVALID_HANDLE_VALUE;
}

// The open under way, or ended and waiting to be taken, or given up and
// still inside the driver; null when none. Main thread.
std::shared_ptr<BoundedCall> Opener;
std::shared_ptr<OpenResult> Opened;

void ForgetOpener()
{
    Opener.reset();
    Opened.reset();
}

} // namespace

bool BeginOpenPort(const std::string& name, PortOpening open)
{
    if (Opener) {
        // One open at a time: one still in the driver, or one whose end is
        // on its way as MSG_PORTOPENED (the next would take its result).
        if (!CallEnded(*Opener, 0) || CallResultWaiting(*Opener)) return false;
        ForgetOpener();
    }
    auto result = std::make_shared<OpenResult>();
    Opener = StartBoundedCall(
        [result, name, open] {
            result->port = open(name);
            result->error = result->port == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        },
        [result] { CloseOpened(*result); }, [] { ReportPortOpened(); });
    if (!Opener) return false;
    Opened = result;
    return true;
}

HANDLE TakeOpenedPort(DWORD& error)
{
    error = 0;
    if (!Opener) return INVALID_HANDLE_VALUE;
    // The opener posts as its last step: it is ending.
    CallEnded(*Opener, INFINITE);
    const std::shared_ptr<OpenResult> result = Opened;
    const bool mine = TakeCallResult(*Opener);
    ForgetOpener();
    if (!mine) return INVALID_HANDLE_VALUE;
    error = result->error;
    return result->port;
}

bool OpenUnderWay()
{
    return Opener && !CallEnded(*Opener, 0);
}

bool AbandonOpenPort(DWORD waitMs)
{
    if (!Opener) return true;
    if (!AbandonCall(*Opener, waitMs)) {
        // Still in the driver; one that ended meanwhile released its port.
        const bool ended = CallEnded(*Opener, 0);
        if (ended) ForgetOpener();
        return ended;
    }
    // Ended in time: a port it opened is closed at once, none is taken.
    CloseOpened(*Opened);
    ForgetOpener();
    return true;
}
