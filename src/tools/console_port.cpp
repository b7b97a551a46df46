#include "console_port.h"

#include <memory>

#include "../link/bounded_call.h"
#include "../link/line_split.h"
#include "../link/serial_io.h"

HANDLE OpenToolPortUnlessStopped(const std::string& name, HANDLE stop, std::string& refused)
{
    refused.clear();
    struct Opened {
        HANDLE port = INVALID_HANDLE_VALUE;
        DWORD error = 0;
        std::string refused;
    };
    auto opened = std::make_shared<Opened>();
    const std::shared_ptr<BoundedCall> call = StartBoundedCall(
        [opened, name] {
            opened->port = OpenConfiguredPort(name, opened->refused);
            opened->error = GetLastError();
        },
        [opened] {
            if (opened->port != INVALID_HANDLE_VALUE) CloseHandle(opened->port);
        });
    if (!call) return OpenConfiguredPort(name, refused);
    if (!CallEnded(*call, INFINITE, stop)) {
        // Stopped while the open hangs (a phone that is off): cancelled where
        // the driver allows, otherwise left to end with the program.
        if (AbandonCall(*call, CANCELLED_OPEN_WAIT) && opened->port != INVALID_HANDLE_VALUE)
            CloseHandle(opened->port);
        SetLastError(ERROR_CANCELLED);
        return INVALID_HANDLE_VALUE;
    }
    TakeCallResult(*call);
    refused = opened->refused;
    SetLastError(opened->error);
    return opened->port;
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
