#pragma once
// The InitString setting read without touching the system, so that the
// settings checker sees the same commands the program sends.

#include <string>
#include <vector>

// Reset, then report every key press and release: each command with CR LF.
extern const char* const DEFAULT_INIT_STRING;

// The commands of the setting: separated by "|", each trimmed, empty ones dropped.
std::vector<std::string> InitCommands(const std::string& setting);
// The commands of a text as the phone gets it, each ended by CR LF.
std::vector<std::string> InitCommandsSent(const std::string& text);
