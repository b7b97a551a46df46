#pragma once
// Which commands a press line runs, given the program in the foreground.
// No state; any thread.

#include <string>
#include <vector>

#include "../settings/settings_file.h"

// One command to run: the section that holds it and its key name.
struct ChosenCommand {
    std::string Section;
    std::string Key;
};

// The foreground program's file name where some program section could use
// it, else "": a file without program sections costs no lookup.
std::string ProgramForChoice(const Settings& settings);
// The section for program (its file name, matched without case as Windows
// matches file names), or null.
const ProgramCommands* SectionForProgram(const Settings& settings, const std::string& program);
// The keys of the foreground program's section that the line names, in
// file order; when that section names none of them (or there is no such
// section), the keys of [Commands] that the line names.
std::vector<ChosenCommand> CommandsForPress(const std::string& line, const Settings& settings,
                                            const std::string& program);
