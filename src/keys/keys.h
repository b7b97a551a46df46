#pragma once
// Key reports: what a line from the phone means. A report names its key and
// holds ",1" when pressed and ",0" when released ("+CKEV: 5,1"). A line may
// be both: its press runs first. No state; any thread.

#include <string>

bool IsKeyPress(const std::string& line);
bool IsKeyRelease(const std::string& line);
// A mapped key name matches wherever it appears in the line.
bool LineNamesKey(const std::string& line, const std::string& keyName);
