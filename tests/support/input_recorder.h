#pragma once
// Sees synthetic keyboard and mouse input the way other programs do: through
// low-level hooks on a thread of their own that pumps messages.

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

struct InputEvent {
    bool keyboard;
    DWORD code;   // virtual-key code, or the mouse message (WM_LBUTTONDOWN ...)
    bool up;
    bool extended;
    bool operator==(const InputEvent& o) const
    {
        return keyboard == o.keyboard && code == o.code && up == o.up && extended == o.extended;
    }
};
std::string Describe(const std::vector<InputEvent>& events);

InputEvent KeyDown(DWORD vk);
InputEvent KeyUp(DWORD vk);
InputEvent Mouse(DWORD message);

class InputRecorder {
public:
    InputRecorder();
    ~InputRecorder();
    // Sends a marker key and returns every event seen before it arrived.
    std::vector<InputEvent> Collect();
private:
    static DWORD WINAPI Run(LPVOID self);
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HANDLE ready = nullptr;
};
