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

// Takes the next line off the front of buffer: the text before the first CR
// or LF, which goes too. Text without a line end is taken whole only once
// tailExpired (no end is coming). False, and nothing taken, otherwise.
bool TakeLineFrom(std::string& buffer, bool tailExpired, std::string& line);

// One pass of the main loop when no message waits: received lines, the held
// key's movement and volume step, then an alertable 10 ms sleep. Main thread.
void IdleWork();
void ProcessReceived();
