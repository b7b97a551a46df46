#include "app.h"
#include "app_testing.h"

#include "../actions/actions.h"
#include "../keys/command_choice.h"
#include "../keys/keys.h"
#include "../link/keypad.h"
#include "../link/link.h"
#include "../settings/ini_file.h"

namespace {

// The picture a release goes back to: the one shown before the press. A
// page's key comes and goes while the serial link may be down, and its
// release must not show that link connected. Main thread.
LinkState BeforeKeyHeld = LinkState::Connected;

void RunMatchingCommands(const std::string& line)
{
    const std::vector<ChosenCommand> chosen =
        CommandsForPress(line, CurrentSettings, ProgramForChoice(CurrentSettings));
    // A command may dispatch messages (the shell's launching does), and a
    // WM_DESTROY among them empties the tables: the rest is then dropped.
    for (const ChosenCommand& command : chosen) {
        if (CurrentSettings.CommandTable.empty() && CurrentSettings.ProgramSections.empty()) break;
        ExecuteCommand(ReadIniString(command.Section, command.Key, "", CurrentSettings.IniPath),
                       MainWindow);
    }
}

} // namespace

void ProcessReceived()
{
    std::string line;
    // Every complete line the buffer holds, in order: phones frame each
    // report as CR LF, report, CR LF, and the empty lines between must not
    // cost a pass each, or a burst builds a backlog of stale presses. The
    // keypad page's lines are a phone's lines too.
    while (TakeReceivedLine(line) || TakeKeypadLine(line)) {
        if (line.empty()) continue;
        if (IsKeyPress(line)) {
            if (ShownLinkState() != LinkState::KeyHeld) BeforeKeyHeld = ShownLinkState();
            ShowLinkState(LinkState::KeyHeld);
            RunMatchingCommands(line);
        }
        if (IsKeyRelease(line)) {
            ShowLinkState(BeforeKeyHeld);
            ReleaseHeldKey();
        }
    }
}

void (*OnIdlePass)() = nullptr;

void IdleWork()
{
    if (OnIdlePass) OnIdlePass();
    ProcessReceived();
    StepHeldKey();
    // Alertable, so that nothing queued to this thread waits longer than a
    // pass; the reader's wake for text that arrived ends it at once.
    SleepEx(10, TRUE);
}
