#pragma once
// The settings file's naming rule, for the tests.

#include <windows.h>

#include <string>

// The module file name with its last four characters replaced by ".ini".
std::string SettingsPathFor(const std::string& moduleFile);
// The system's ANSI code page as ToCodePage takes CP_ACP: GetACP, or a
// stand-in for a code page Wine cannot be given (65001). Main thread.
extern UINT(WINAPI* AnsiCodePage)();
