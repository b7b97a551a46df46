#include "link.h"
#include "link_testing.h"

#include "line_split.h"

namespace {

// The reader appends, the main thread takes from the front; both only
// while holding ReceiveLock, and only for the access.
std::string ReceiveBuffer;
CRITICAL_SECTION ReceiveLock;
// GetTickCount of the last append; guarded by ReceiveLock.
DWORD LastReceiveTick = 0;

// The lock lives for the whole program, ready before main runs.
struct ReceiveLockOwner {
    ReceiveLockOwner() { InitializeCriticalSection(&ReceiveLock); }
    ~ReceiveLockOwner() { DeleteCriticalSection(&ReceiveLock); }
} ReceiveLockInstance;

} // namespace

void AppendReceived(const char* bytes, DWORD count)
{
    DWORD kept = 0;
    for (DWORD i = 0; i < count; ++i) kept += bytes[i] != '\0';
    if (kept == 0) return;
    // Bounded while the main thread is held up (a modal box).
    EnterCriticalSection(&ReceiveLock);
    AppendPhoneText(ReceiveBuffer, bytes, count);
    LastReceiveTick = GetTickCount();
    LeaveCriticalSection(&ReceiveLock);
}

bool TakeReceivedLine(std::string& line)
{
    // In one step under the lock: a line without its end yet stays for a
    // later pass, unless the phone has been quiet long enough that no end
    // is coming.
    EnterCriticalSection(&ReceiveLock);
    const bool taken =
        TakeLineFrom(ReceiveBuffer, GetTickCount() - LastReceiveTick >= LINE_TAIL_WAIT, line);
    LeaveCriticalSection(&ReceiveLock);
    return taken;
}

std::string ReceivedText()
{
    EnterCriticalSection(&ReceiveLock);
    std::string text = ReceiveBuffer;
    LeaveCriticalSection(&ReceiveLock);
    return text;
}

void ClearReceived()
{
    EnterCriticalSection(&ReceiveLock);
    ReceiveBuffer.clear();
    LeaveCriticalSection(&ReceiveLock);
}

void ReplaceReceived(const std::string& text, DWORD ageMs)
{
    EnterCriticalSection(&ReceiveLock);
    ReceiveBuffer = text;
    LastReceiveTick = GetTickCount() - ageMs;
    LeaveCriticalSection(&ReceiveLock);
}
