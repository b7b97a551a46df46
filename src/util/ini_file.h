#pragma once
// The settings file's two primitives, through the system's profile calls
// (which read the file afresh each time). No state; any thread.

#include <string>
#include <vector>

// The key names of the section (the Commands section, for the command
// table) in file order; only what fits in 32767 bytes of names is listed.
std::vector<std::string> LoadCommandSection(const std::string& section, const std::string& file);
// The value of the key, or defaultValue when file, section or key is missing;
// at most 255 characters.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& file);
