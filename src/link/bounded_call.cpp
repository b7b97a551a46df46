#include "bounded_call.h"

namespace {

DWORD WINAPI RunBoundedCall(LPVOID parameter)
{
    // The thread's own share of the record: it may outlive the caller's.
    std::unique_ptr<std::shared_ptr<BoundedCall>> held(
        static_cast<std::shared_ptr<BoundedCall>*>(parameter));
    BoundedCall& call = **held;
    call.run();
    int running = BoundedCall::Running;
    if (!call.state.compare_exchange_strong(running, BoundedCall::Ended)) {
        // Given up while it ran: nobody will take what it yields.
        if (call.release) call.release();
        return 0;
    }
    if (call.announce) call.announce();
    return 0;
}

} // namespace

BoundedCall::~BoundedCall()
{
    if (thread) CloseHandle(thread);
}

std::shared_ptr<BoundedCall> StartBoundedCall(std::function<void()> run,
                                              std::function<void()> release,
                                              std::function<void()> announce)
{
    auto call = std::make_shared<BoundedCall>();
    call->run = std::move(run);
    call->release = std::move(release);
    call->announce = std::move(announce);
    auto* share = new std::shared_ptr<BoundedCall>(call);
    // Created suspended, so that the record holds the handle before the
    // call can end and drop its share.
    call->thread = CreateThread(nullptr, 0, RunBoundedCall, share, CREATE_SUSPENDED, nullptr);
    if (!call->thread) {
        delete share;
        return nullptr;
    }
    ResumeThread(call->thread);
    return call;
}

bool CallEnded(const BoundedCall& call, DWORD waitMs, HANDLE stop)
{
    HANDLE both[2] = {call.thread, stop};
    return WaitForMultipleObjects(stop ? 2 : 1, both, FALSE, waitMs) == WAIT_OBJECT_0;
}

bool TakeCallResult(BoundedCall& call)
{
    int ended = BoundedCall::Ended;
    return call.state.compare_exchange_strong(ended, BoundedCall::Taken);
}

bool CallResultWaiting(const BoundedCall& call)
{
    return call.state == BoundedCall::Ended;
}

bool AbandonCall(BoundedCall& call, DWORD waitMs)
{
    // Ends a CreateFile still waiting in a driver that allows it.
    CancelSynchronousIo(call.thread);
    CallEnded(call, waitMs);
    int state = BoundedCall::Running;
    if (call.state.compare_exchange_strong(state, BoundedCall::Abandoned)) return false;
    // It had ended: what it yielded is the caller's, unless taken before.
    return state == BoundedCall::Ended &&
           call.state.compare_exchange_strong(state, BoundedCall::Taken);
}
