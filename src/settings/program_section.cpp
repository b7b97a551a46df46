#include "program_section.h"

#include "../util/text.h"

const char* ProgramNameFault(const std::string& name)
{
    if (name.empty()) return "names no program";
    for (char c : name) {
        if (c == '\\' || c == '/' || c == ':') return "is a path: give the file name alone";
        if (c == '*' || c == '?') return "has a wildcard: give the program's exact file name";
        if (c == '<' || c == '>' || c == '"' || c == '|' || static_cast<unsigned char>(c) < 32)
            return "has a character that no file name has";
    }
    return nullptr;
}

const char* ProgramNameDoubt(const std::string& name)
{
    if (!name.empty() && name.back() == '.')
        return "ends with a dot, which no file name does; write it as Task Manager's Details tab "
               "shows it";
    if (name.find('.') == std::string::npos)
        return "has no extension: a program is found by its file name, e.g. POWERPNT.EXE "
               "(Task Manager, Details tab), not by its window title";
    return nullptr;
}

std::string SectionProgram(const std::string& section)
{
    const size_t prefix = TextLength(PROGRAM_SECTION_PREFIX);
    if (section.size() < prefix || !SameName(section.substr(0, prefix), PROGRAM_SECTION_PREFIX))
        return "";
    return TrimBlanks(section.substr(prefix));
}
