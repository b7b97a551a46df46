#include "keys.h"

#include <windows.h>

#include "../actions/actions.h"
#include "../app/app.h"
#include "../link/link.h"
#include "../util/text.h"

namespace {

// Takes the next line from the front of ReceiveBuffer in one step under the
// lock. A line without its end yet stays for a later pass, unless the phone
// has been quiet long enough that no end is coming.
bool TakeLine(std::string& line)
{
    EnterCriticalSection(&ReceiveLock);
    const bool taken =
        TakeLineFrom(ReceiveBuffer, GetTickCount() - LastReceiveTick >= LINE_TAIL_WAIT, line);
    LeaveCriticalSection(&ReceiveLock);
    return taken;
}

void RunMatchingCommands(const std::string& line)
{
    // A command may dispatch messages (the shell's launching does), and a
    // WM_DESTROY among them empties the table: hence the bound checked on
    // every step and the key copied before the command runs.
    const size_t count = CommandTable.size();
    for (size_t i = 0; i < count && i < CommandTable.size(); ++i) {
        const std::string key = CommandTable[i];
        if (SubstringPosition(line, key) != -1)
            ExecuteCommand(ReadIniString("Commands", key, "", IniPath));
    }
}

} // namespace

void ProcessReceived()
{
    std::string line;
    // Every complete line the buffer holds, in order: phones frame each
    // report as CR LF, report, CR LF, and the empty lines between must not
    // cost a pass each, or a burst builds a backlog of stale presses.
    while (TakeLine(line)) {
        if (line.empty()) continue;
        if (SubstringPosition(line, ",1") != -1) {
            TrayModify(MainWindow, 0, NIF_ICON, ReceiveIcon, TRAY_TIP);
            RunMatchingCommands(line);
        }
        if (SubstringPosition(line, ",0") != -1) {
            TrayModify(MainWindow, 0, NIF_ICON, MainIcon, TRAY_TIP);
            MouseDeltaX = 0;
            MouseDeltaY = 0;
            VolumeStep = 0;
        }
    }
}

#ifdef QUORVIX_COUNT_IDLE_PASSES
// Benchmark builds only: makes the passes countable from outside.
void CountIdlePass();
#endif

void IdleWork()
{
#ifdef QUORVIX_COUNT_IDLE_PASSES
    CountIdlePass();
#endif
    ProcessReceived();
    if (MouseDeltaX != 0 || MouseDeltaY != 0) {
        POINT at;
        // A position that could not be read is never used.
        if (GetCursorPos(&at)) SetCursorPos(at.x + MouseDeltaX, at.y + MouseDeltaY);
    }
    if (VolumeStep != 0) {
        // Unsigned, so that the sum wraps as 32-bit arithmetic does.
        const uint32_t sum = GetMasterVolume() + static_cast<uint32_t>(VolumeStep) * 500u;
        SetMasterVolume(static_cast<int32_t>(sum));
    }
    // Alertable, so that nothing queued to this thread waits longer than a pass.
    SleepEx(10, TRUE);
}
