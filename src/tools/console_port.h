#pragma once
// The console tools' use of a serial port, over the link's serial I/O: one
// handle, no reader thread, every wait bounded so that a stalled port
// cannot hold the tool.

#include <windows.h>

#include <string>

// The port opened with the program's line settings (OpenConfiguredPort) on
// a thread of its own, given up when stop is signalled (Ctrl+C while a
// paired phone that is off holds the open): INVALID_HANDLE_VALUE with
// ERROR_CANCELLED then, after CANCELLED_OPEN_WAIT at most. refused: why the
// port refused its settings, if it did.
const DWORD CANCELLED_OPEN_WAIT = 1000;
HANDLE OpenToolPortUnlessStopped(const std::string& name, HANDLE stop, std::string& refused);
// Reads what is queued, at most a chunk, onto pending as the program takes
// it; false when the read failed. The event is the caller's,
// free while no wait is pending.
bool ReadSome(HANDLE port, HANDLE event, DWORD queued, std::string& pending);
