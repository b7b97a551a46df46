#pragma once
// What the link tests look at and set, apart from what the program uses.

#include <windows.h>

#include <string>

// The watchdog's period: READER_WAIT_TIMEOUT. Tests shorten it, and only
// while no reader runs; the reader thread reads it.
extern DWORD ReaderWaitTimeout;
// A write, or the reader's last wait or read, is still in the system's hands.
bool WriteInFlight();
bool ReadInFlight();
// The received text held, and the same replaced, stamped as received ageMs ago.
std::string ReceivedText();
void ReplaceReceived(const std::string& text, DWORD ageMs);
