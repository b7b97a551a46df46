#pragma once
// Which program owns the foreground window, and how program file names
// compare. No state; any thread.

#include <windows.h>

#include <string>

// The file name (no path) of the program that owns the foreground window,
// in the ANSI code page; "" when there is none (a locked screen), when the
// system will not say (a protected process) or when the name has
// characters the code page lacks, so that it can match no section.
std::string ForegroundProgram();
// Two file names as Windows compares them: without case over all of
// Unicode (Ü and ü, Д and д), each given in codePage (CP_ACP: the system's).
bool SameFileName(const std::string& a, const std::string& b, unsigned codePage = CP_ACP);
