#include "input_recorder.h"

#include <cstdio>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {
std::mutex Lock;
std::vector<InputEvent> Seen;
const DWORD MARKER_KEY = VK_F24;

LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION) {
        auto* k = reinterpret_cast<KBDLLHOOKSTRUCT*>(lParam);
        std::lock_guard<std::mutex> hold(Lock);
        Seen.push_back({true, k->vkCode, (k->flags & LLKHF_UP) != 0, (k->flags & LLKHF_EXTENDED) != 0});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK MouseHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam != WM_MOUSEMOVE) {
        std::lock_guard<std::mutex> hold(Lock);
        Seen.push_back({false, static_cast<DWORD>(wParam), false, false});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
} // namespace

InputEvent KeyDown(DWORD vk) { return {true, vk, false, true}; }
InputEvent KeyUp(DWORD vk) { return {true, vk, true, true}; }
InputEvent Mouse(DWORD message) { return {false, message, false, false}; }

std::string Describe(const std::vector<InputEvent>& events)
{
    std::string s;
    for (const auto& e : events) {
        char b[48];
        if (e.keyboard)
            std::snprintf(b, sizeof b, "key %02lX %s%s; ", e.code, e.up ? "up" : "down",
                          e.extended ? " ext" : "");
        else
            std::snprintf(b, sizeof b, "mouse %04lX; ", e.code);
        s += b;
    }
    return s;
}

InputRecorder::InputRecorder()
{
    {
        std::lock_guard<std::mutex> hold(Lock);
        Seen.clear();
    }
    ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, Run, this, 0, &threadId);
    WaitForSingleObject(ready, 10000);
}

InputRecorder::~InputRecorder()
{
    PostThreadMessageA(threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(ready);
}

DWORD WINAPI InputRecorder::Run(LPVOID self)
{
    auto* recorder = static_cast<InputRecorder*>(self);
    HHOOK keys = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardHook, GetModuleHandleA(nullptr), 0);
    HHOOK mouse = SetWindowsHookExA(WH_MOUSE_LL, MouseHook, GetModuleHandleA(nullptr), 0);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
    SetEvent(recorder->ready);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    UnhookWindowsHookEx(keys);
    UnhookWindowsHookEx(mouse);
    return 0;
}

std::vector<InputEvent> InputRecorder::Collect()
{
    keybd_event(static_cast<BYTE>(MARKER_KEY), 0, KEYEVENTF_KEYUP, 0);
    std::vector<InputEvent> result;
    const bool arrived = WaitFor([&] {
        std::lock_guard<std::mutex> hold(Lock);
        for (size_t i = 0; i < Seen.size(); ++i) {
            if (Seen[i].keyboard && Seen[i].code == MARKER_KEY) {
                result.assign(Seen.begin(), Seen.begin() + static_cast<long>(i));
                Seen.erase(Seen.begin(), Seen.begin() + static_cast<long>(i) + 1);
                return true;
            }
        }
        return false;
    }, 5000);
    // Without the marker an empty result would prove nothing.
    if (!arrived) ADD_FAILURE() << "the hooks never saw the marker key";
    return result;
}
