#include "actions.h"

#include <shellapi.h>

#include "command_parse.h"

namespace {

const UINT PLAYER_SEND_TIMEOUT = 1000;

void StartProgram(const Command& c, HWND owner)
{
    // Empty texts go as "" rather than null, as the shell is handed them.
    ShellExecuteA(owner, nullptr, c.file.c_str(), c.parameters.c_str(), nullptr, SW_SHOW);
}

const uint8_t ALT_KEY = 0x12;

// Every key goes as an extended key, as designed (the arrows, Insert, Delete
// and the media keys need it; the rest do not mind), except Alt: extended it
// is the right Alt, which keyboards with AltGr take for Ctrl+Alt.
DWORD KeyFlags(uint8_t key)
{
    return key == ALT_KEY ? 0 : KEYEVENTF_EXTENDEDKEY;
}

void PressKeys(const std::vector<uint8_t>& keys)
{
    // An up event first clears a key the user may be holding, so the down counts.
    for (uint8_t key : keys) {
        keybd_event(key, 0, KeyFlags(key) | KEYEVENTF_KEYUP, 0);
        keybd_event(key, 0, KeyFlags(key), 0);
    }
    for (uint8_t key : keys) keybd_event(key, 0, KeyFlags(key) | KEYEVENTF_KEYUP, 0);
}

void ClickButton(char button)
{
    const DWORD down = button == 'L' ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN;
    const DWORD up = button == 'L' ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTUP;
    mouse_event(down, 0, 0, 0, 0);
    mouse_event(up, 0, 0, 0, 0);
}

void SendToPlayer(int32_t number)
{
    HWND player = FindWindowA("Winamp v1.x", nullptr);
    // A hung player must not hang the keys, the tray and the keep-alives
    // with it: the send gives up after about a second.
    DWORD_PTR result = 0;
    if (player)
        SendMessageTimeoutA(player, WM_COMMAND, static_cast<WPARAM>(static_cast<uint32_t>(number)),
                            1, SMTO_ABORTIFHUNG, PLAYER_SEND_TIMEOUT, &result);
}

} // namespace

void ExecuteCommand(const std::string& command, HWND owner)
{
    const Command c = ParseCommand(command);
    switch (c.kind) {
    case CommandKind::Execute: StartProgram(c, owner); break;
    case CommandKind::KeyPress: PressKeys(c.keys); break;
    case CommandKind::MouseClick: ClickButton(c.button); break;
    case CommandKind::MouseMove: (c.axis == 'X' ? MouseDeltaX : MouseDeltaY) = c.number; break;
    case CommandKind::Volume:
        ChooseVolumeBackEnd();
        VolumeStep = c.number;
        break;
    case CommandKind::Winamp: SendToPlayer(c.number); break;
    case CommandKind::None: break;
    }
}
