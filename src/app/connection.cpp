#include "app.h"

#include "../actions/actions.h"
#include "../link/link.h"

namespace {

// A reconnect is under way. Main thread.
bool Reconnecting = false;

// Waits about a second while dispatching messages. False when a WM_QUIT
// came (posted again for the main loop) or the window is gone.
bool PauseBetweenAttempts()
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!IsWindow(MainWindow)) return false;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= 1000) return true;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000 - elapsed, QS_ALLINPUT);
    }
}

} // namespace

bool ConnectPort()
{
    if (!OpenPort(CurrentSettings.PortName, CurrentSettings.PhoneInitString)) return false;
    ShowLinkState(LinkState::Connected);
    return true;
}

void ReconnectPort()
{
    // A message dispatched between attempts must not start a second round.
    if (Reconnecting) return;
    Reconnecting = true;
    ShowLinkState(LinkState::NotConnected);
    // The release line of a held key may never come over a dead link.
    ReleaseHeldKey();
    ClosePort();
    while (!ConnectPort())
        if (!PauseBetweenAttempts()) break;
    Reconnecting = false;
}
