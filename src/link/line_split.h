#pragma once
// How the phone's text splits into lines, without touching the system.

#include <string>

// Takes the next line off the front of buffer: the text before the first CR
// or LF, which goes too. Text without a line end is taken whole only once
// tailExpired (no end is coming). False, and nothing taken, otherwise.
bool TakeLineFrom(std::string& buffer, bool tailExpired, std::string& line);
