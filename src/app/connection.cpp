#include "app.h"

#include "../actions/actions.h"
#include "../link/link.h"

namespace {

// Main thread. The first open at start-up: its failure is shown (the error
// picture and a box); later ones are tried again a second later until the
// phone is back.
bool Starting = true;
bool Reconnecting = false;

} // namespace

void ConnectPort()
{
    // The picture stays "not connected" until the open succeeds.
    if (!BeginOpenPort(CurrentSettings.PortName) && !OpenUnderWay() && Reconnecting)
        SetTimer(MainWindow, RETRY_TIMER, RETRY_PAUSE, nullptr);
}

void PortOpened()
{
    DWORD error = 0;
    const HANDLE port = TakeOpenedPort(error);
    if (port != INVALID_HANDLE_VALUE) {
        StartLink(port, CurrentSettings.PhoneInitString);
        ShowLinkState(LinkState::Connected);
        Starting = false;
        Reconnecting = false;
        return;
    }
    if (Starting) {
        Starting = false;
        ShowLinkState(LinkState::Error);
        ShowError(("Failed to open " + CurrentSettings.PortName).c_str());
        return;
    }
    if (Reconnecting) SetTimer(MainWindow, RETRY_TIMER, RETRY_PAUSE, nullptr);
}

void RetryOpen()
{
    KillTimer(MainWindow, RETRY_TIMER);
    if (Reconnecting) ConnectPort();
}

void ReconnectPort()
{
    // A silent link reported again while the open is under way starts no second round.
    if (Reconnecting) return;
    Reconnecting = true;
    Starting = false;
    ShowLinkState(LinkState::NotConnected);
    // The release line of a held key may never come over a dead link.
    ReleaseHeldKey();
    ClosePort();
    ConnectPort();
}

void StopConnecting()
{
    Reconnecting = false;
    if (MainWindow) KillTimer(MainWindow, RETRY_TIMER);
    AbandonOpenPort(EXIT_OPEN_WAIT);
}
