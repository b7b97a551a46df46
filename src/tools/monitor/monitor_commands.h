#pragma once
// quorvix-monitor's two set-up commands, apart from its listening. Main thread.

#include <windows.h>

#include <string>

#include "../../settings/settings_file.h"

// --find: asks the serial ports, Bluetooth ones first, whether a phone
// answers, one line each, until one accepts key reporting (with all: every
// port), then names the port to use; with write, puts it into the settings
// file's Port. 0 when a phone answered (and, with write, its port was
// written), else 2. A question still inside the driver at the end is waited
// for LEFT_WAIT ms, then named. Signalling stop (Ctrl+C) ends the search at
// once, with nothing written.
const unsigned long LEFT_WAIT = 2000;
int FindPhone(const Settings& settings, bool write, bool all, HANDLE stop);

// --learn --for: the section the keys are learned for and written into
// (a program's section, "Commands" without --for), in the ANSI code page
// and in UTF-8. A key that [Commands] maps is not learned for a program.
void LearnInto(const std::string& ansi, const std::string& utf8);
// --learn: what a line from the phone teaches; every press is shown as a key
// with a command, a key learned already or a new one (with its line).
void LearnLine(const Settings& settings, const std::string& line);
// After the listening: the new keys' lines, with write appended to that
// section first, then printed. result: the listening's own exit code, or 2
// when the writing failed.
int FinishLearning(const Settings& settings, bool write, int result);
