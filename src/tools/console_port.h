#pragma once
// The console tools' own use of a serial port: one handle, no reader
// thread, every wait bounded so that a stalled port cannot hold the tool.

#include <windows.h>

#include <string>

// The port opened with the program's line settings, or INVALID_HANDLE_VALUE
// (the reason in GetLastError).
HANDLE OpenToolPort(const std::string& name);
// The same on a thread of its own, given up when stop is signalled (Ctrl+C
// while a paired phone that is off holds the open): INVALID_HANDLE_VALUE
// with ERROR_CANCELLED then.
HANDLE OpenToolPortUnlessStopped(const std::string& name, HANDLE stop);
// Sends text + CR LF; a write still pending after a second is cancelled.
bool Send(HANDLE port, const std::string& text);
// Reads what is queued, at most a chunk, onto pending; false when the read
// failed. A read still pending after a second (nothing came) is cancelled,
// which is no failure. The event is the caller's, free while no wait is pending.
bool ReadSome(HANDLE port, HANDLE event, DWORD queued, std::string& pending);
// The system's text for an error code.
std::string SystemMessage(DWORD code);
// Bytes a console would garble are shown as \xNN.
std::string Printable(const std::string& text);
