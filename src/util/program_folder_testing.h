#pragma once
// The settings file's naming rule, for the tests.

#include <string>

// The module file name with its last four characters replaced by ".ini".
std::string SettingsPathFor(const std::string& moduleFile);
