#include "console_port.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "../link/line_split.h"
#include "../link/serial_io.h"
#include "../util/text.h"

namespace {

// One open on a thread of its own; shared, so that the record outlives a
// caller that stopped waiting, and whichever ends last closes the port.
struct Opening {
    std::string name;
    std::atomic<HANDLE> port{INVALID_HANDLE_VALUE};
    std::atomic<bool> abandoned{false};
    DWORD error = 0;
    std::string refused;
};

DWORD WINAPI OpenOnItsThread(LPVOID parameter)
{
    std::unique_ptr<std::shared_ptr<Opening>> held(
        static_cast<std::shared_ptr<Opening>*>(parameter));
    Opening& o = **held;
    const HANDLE port = OpenConfiguredPort(o.name, o.refused);
    o.error = GetLastError();
    o.port.exchange(port);
    if (o.abandoned) {
        const HANDLE left = o.port.exchange(INVALID_HANDLE_VALUE);
        if (left != INVALID_HANDLE_VALUE) CloseHandle(left);
    }
    return 0;
}

} // namespace

HANDLE OpenToolPortUnlessStopped(const std::string& name, HANDLE stop, std::string& refused)
{
    refused.clear();
    auto opening = std::make_shared<Opening>();
    opening->name = name;
    auto* held = new std::shared_ptr<Opening>(opening);
    HANDLE thread = CreateThread(nullptr, 0, OpenOnItsThread, held, 0, nullptr);
    if (!thread) {
        delete held;
        return OpenConfiguredPort(name, refused);
    }
    HANDLE both[2] = {thread, stop};
    if (WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) {
        // Stopped while the open hangs (a phone that is off): cancelled where
        // the driver allows, otherwise left to end with the program.
        opening->abandoned = true;
        CancelSynchronousIo(thread);
        WaitForSingleObject(thread, 1000);
        const HANDLE left = opening->port.exchange(INVALID_HANDLE_VALUE);
        if (left != INVALID_HANDLE_VALUE) CloseHandle(left);
        CloseHandle(thread);
        SetLastError(ERROR_CANCELLED);
        return INVALID_HANDLE_VALUE;
    }
    CloseHandle(thread);
    refused = opening->refused;
    SetLastError(opening->error);
    return opening->port.exchange(INVALID_HANDLE_VALUE);
}

bool ReadSome(HANDLE port, HANDLE event, DWORD queued, std::string& pending)
{
    char chunk[READ_CHUNK_SIZE];
    OVERLAPPED r;
    ZeroMemory(&r, sizeof r);
    r.hEvent = event;
    DWORD got = 0;
    if (ReadChunk(port, r, queued, chunk, got) != ReadEnd::Read) return false;
    // As the program takes it: no zero bytes, and bounded.
    AppendPhoneText(pending, chunk, got);
    return true;
}
