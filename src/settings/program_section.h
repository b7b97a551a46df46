#pragma once
// The names of program sections: PROGRAM_SECTION_PREFIX + a program's file
// name, holding the keys whose commands differ while that program has the
// foreground. No state, no system call; any thread.

#include <string>

const char* const PROGRAM_SECTION_PREFIX = "Commands:";

// Why name cannot name a program's section (a path, a wildcard, a
// character no file name has, nothing at all), or null when it can.
const char* ProgramNameFault(const std::string& name);
// Why a name that can be read never matches a program's file name (no
// extension, as a window title has none; a trailing dot, which Windows
// drops from file names), or null when it may.
const char* ProgramNameDoubt(const std::string& name);
// The program a section's name is for ("" when it is no program section);
// the name may still be faulty.
std::string SectionProgram(const std::string& section);
