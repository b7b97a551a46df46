#include "command_choice.h"

#include <algorithm>

#include "../util/foreground_program.h"
#include "../util/text.h"
#include "keys.h"

namespace {

void AddNamed(const std::string& line, const std::string& section,
              const std::vector<std::string>& table, std::vector<ChosenCommand>& chosen)
{
    for (const std::string& key : table)
        if (LineNamesKey(line, key)) chosen.push_back({section, key});
}

} // namespace

std::string ProgramForChoice(const Settings& settings)
{
    return settings.ProgramSections.empty() ? std::string() : ForegroundProgram();
}

const ProgramCommands* SectionForProgram(const Settings& settings, const std::string& program)
{
    if (program.empty()) return nullptr;
    const auto found = std::find_if(
        settings.ProgramSections.begin(), settings.ProgramSections.end(),
        [&](const ProgramCommands& section) { return SameFileName(section.Program, program); });
    return found == settings.ProgramSections.end() ? nullptr : &*found;
}

std::vector<ChosenCommand> CommandsForPress(const std::string& line, const Settings& settings,
                                            const std::string& program)
{
    std::vector<ChosenCommand> chosen;
    if (const ProgramCommands* own = SectionForProgram(settings, program))
        AddNamed(line, own->Section, own->CommandTable, chosen);
    if (chosen.empty()) AddNamed(line, "Commands", settings.CommandTable, chosen);
    return chosen;
}
