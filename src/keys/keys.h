#pragma once
// Key events: the table of mapped key names and the idle pass that turns
// received text into key presses and releases.

#include <string>
#include <vector>

// Key names of the Commands section in file order. Main thread only.
extern std::vector<std::string> CommandTable;

// Replaces CommandTable with the key names of the section; only what fits in
// 32767 bytes of names is loaded.
void LoadCommandSection(const std::string& section, const std::string& file);
// The value of the key, or defaultValue when file, section or key is missing;
// at most 255 characters.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& file);

// One pass of the main loop when no message waits: received lines, the held
// key's movement and volume step, then an alertable 10 ms sleep. Main thread.
void IdleWork();
void ProcessReceived();
