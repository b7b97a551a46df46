#pragma once
// How the phone's text splits into lines, without touching the system.

#include <cstddef>
#include <string>

// The phone's text keeps at most this much, the newest: a device that sends
// no line end must not make it grow without bound.
const size_t RECEIVE_LIMIT = 64 * 1024;

// Appends the bytes without their zero bytes (some serial stacks send stray
// ones; the text around them is kept), then cuts text to RECEIVE_LIMIT.
void AppendPhoneText(std::string& text, const char* bytes, size_t count);

// Takes the next line off the front of buffer: the text before the first CR
// or LF, which goes too. Text without a line end is taken whole only once
// tailExpired (no end is coming). False, and nothing taken, otherwise.
bool TakeLineFrom(std::string& buffer, bool tailExpired, std::string& line);
