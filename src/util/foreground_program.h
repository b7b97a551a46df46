#pragma once
// Which program owns the foreground window. No state; any thread.

#include <string>

// The file name (no path) of the program that owns the foreground window,
// in the ANSI code page; "" when there is none (a locked screen), when the
// system will not say (a protected process) or when the name has
// characters the code page lacks, so that it can match no section.
std::string ForegroundProgram();
