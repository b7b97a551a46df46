#include "app.h"
#include "app_testing.h"

#include "../actions/actions.h"
#include "../link/link.h"
#include "../util/system_message.h"

namespace {

// Main thread. Connecting: an open is wanted (from the first ConnectPort,
// and from a lost link, until a link opens or Exit). Starting: the first
// open, whose failure gets a box unless the phone is merely away.
bool Connecting = false;
bool Starting = true;

// What the user reads in the box after "Failed to open COMx".
std::string OpenFailure(DWORD error)
{
    std::string system = SystemMessage(error);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME)
        return "This PC has no such port (" + system +
               "). quorvix-monitor --find --write finds the phone's port.";
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        return "Another program has the port open (" + system + ").";
    return system;
}

void RetryLater()
{
    SetTimer(MainWindow, RETRY_TIMER, RETRY_PAUSE, nullptr);
}

} // namespace

PortOpening PortOpener = CreatePortHandle;

void ConnectPort()
{
    // The picture stays "not connected" until the open succeeds. An open
    // that cannot start now (the last one still under way, or no thread to
    // be had) is tried again after the pause: retries never stop by
    // themselves.
    Connecting = true;
    if (!BeginOpenPort(CurrentSettings.PortName, PortOpener)) RetryLater();
}

void PortOpened()
{
    DWORD error = 0;
    const HANDLE port = TakeOpenedPort(error);
    if (port != INVALID_HANDLE_VALUE) {
        const std::string refused = StartLink(port, CurrentSettings.PhoneInitString);
        ShowLinkState(LinkState::Connected);
        ShowLinkReason(refused.empty() ? "" : CurrentSettings.PortName + " " + refused);
        Starting = false;
        Connecting = false;
        return;
    }
    if (!Connecting) return;
    const std::string reason = CurrentSettings.PortName + ": " + SystemMessage(error);
    // A phone that is off or away (the usual case at logon) is waited for
    // as after a lost link; a port that is missing or busy is the user's to mend.
    if (Starting && !PhoneUnreachable(error)) {
        Starting = false;
        Connecting = false;
        ShowLinkState(LinkState::Error);
        ShowLinkReason(reason);
        ShowError(("Failed to open " + CurrentSettings.PortName + "\n\n" + OpenFailure(error)).c_str());
        return;
    }
    Starting = false;
    ShowLinkState(LinkState::NotConnected);
    ShowLinkReason(reason);
    RetryLater();
}

void RetryOpen()
{
    KillTimer(MainWindow, RETRY_TIMER);
    if (Connecting) ConnectPort();
}

void ReconnectPort()
{
    // A silent link reported again while the open is under way starts no second round.
    if (Connecting) return;
    Connecting = true;
    Starting = false;
    ShowLinkState(LinkState::NotConnected);
    // The release line of a held key may never come over a dead link.
    ReleaseHeldKey();
    ClosePort();
    ConnectPort();
}

void StopConnecting()
{
    Connecting = false;
    if (MainWindow) KillTimer(MainWindow, RETRY_TIMER);
    AbandonOpenPort(EXIT_OPEN_WAIT);
}
