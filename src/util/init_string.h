#pragma once
// The InitString setting read without touching the system, so that the
// settings checker sees the same commands the program sends.

#include <string>
#include <vector>

// The commands of the setting: separated by "|", each trimmed, empty ones dropped.
std::vector<std::string> InitCommands(const std::string& setting);
