#pragma once
// The settings file's two primitives, through the system's profile calls
// (which read the file afresh each time). No state; any thread.

#include <cstddef>
#include <string>
#include <vector>

// What the profile calls hand back: a value cut to VALUE_LIMIT characters,
// and a section's key names, each ended by a zero and the list by one more,
// cut to KEY_LIST_SIZE bytes.
const size_t VALUE_LIMIT = 255;
const size_t KEY_LIST_SIZE = 0x7FFF;

// The key names of any section ([Commands], a program's) in file order;
// only what fits in KEY_LIST_SIZE bytes of names is listed.
std::vector<std::string> LoadKeyNames(const std::string& section, const std::string& file);
// The file's section names in file order, as far as they fit in
// KEY_LIST_SIZE bytes.
std::vector<std::string> SectionNames(const std::string& file);
// The value of the key, or defaultValue when file, section or key is missing;
// at most 255 characters.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& file);
