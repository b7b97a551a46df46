#pragma once
// Where the settings file is: beside the running program, named so that the
// ANSI profile calls can open it. No state; any thread.

#include <windows.h>

#include <string>

// The program's own settings file: beside it, named after its own long name
// (phone.exe reads phone.ini). The path is one the ANSI calls can open (with
// short folder names where the code page cannot show the long ones); false
// when there is none.
bool OwnSettingsPath(std::string& path);
// quorvix.ini in the running executable's folder: the console tools shipped
// beside the program read the program's own settings. False as above.
bool QuorvixIniPath(std::string& path);
// Shown when the settings file beside the program cannot be named for the
// ANSI calls that read it; names the folder as those calls see it.
std::string SettingsUnreachable();
// The text (length wide characters) in the code page; false when a character
// has no place there. Any code page, UTF-8 (65001) included, also as the
// system's (CP_ACP).
bool ToCodePage(UINT codePage, const wchar_t* text, int length, std::string& out);
