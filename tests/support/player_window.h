#pragma once
// A stand-in for the player's main window ("Winamp v1.x"), shared by the
// tests, the benchmark and the demo's observer.

#include <windows.h>

#include <utility>
#include <vector>

// The wParam and lParam of every WM_COMMAND that reached the window, in order.
extern std::vector<std::pair<WPARAM, LPARAM>> PlayerMessages;
// Created in this thread, which must answer its messages. Empties
// PlayerMessages first; each command is also handed to listener, if given.
HWND CreatePlayerWindow(void (*listener)(WPARAM, LPARAM) = nullptr);
// The wParam of each, in order.
std::vector<WPARAM> PlayerCommands();
