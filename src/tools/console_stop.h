#pragma once
// How a console tool's listening ends: Ctrl+C, Ctrl+Break, or the console
// window closed (or the user logging off). For a closed window Windows ends
// the process as soon as the handler returns, so the handler first waits,
// at most CLOSE_WAIT ms, until the tool says that its work is saved.

#include <windows.h>

const DWORD CLOSE_WAIT = 4500;

// Installs the handler; false when it cannot. Main thread, once.
bool WatchConsoleStop();
// Signalled once the user asked to stop.
HANDLE ConsoleStopEvent();
// The tool's work is written (or there is none): a closing window may end it now.
void ConsoleWorkSaved();
// The handler itself; runs on a thread of the system's.
BOOL WINAPI OnConsoleStop(DWORD type);
