#pragma once
// The system's own words for an error code, as the program's boxes and
// tooltip and the tools' lines give a failure's reason. No state; any thread.

#include <windows.h>

#include <string>

// The system's text for code (in the user's language, ANSI), or "system
// error N" where it has none.
std::string SystemMessage(DWORD code);
