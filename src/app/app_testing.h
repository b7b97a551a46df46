#pragma once
// What the application's tests and the benchmark reach inside it.

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app.h"
#include "../link/link.h"

// The notification record the three tray calls hand to the shell.
NOTIFYICONDATAA TrayRecord(HWND window, UINT id, UINT flags, HICON icon, UINT callbackMessage,
                           const char* tip);
// Called at the start of every idle pass when set (the benchmark counts
// passes); main thread.
extern void (*OnIdlePass)();
// What the tray was last told to show: the tooltip.
std::string ShownTrayTip();
// How ConnectPort opens: CreatePortHandle, or a stand-in. Main thread.
extern PortOpening PortOpener;
