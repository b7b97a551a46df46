#include "settings_file.h"

#include "../util/foreground_program.h"
#include "ini_file.h"
#include "init_string.h"
#include "../util/text.h"

namespace {

// The profile functions hand back the default both for a missing key and for
// one whose value equals it; two different defaults tell the cases apart.
bool SettingPresent(const std::string& key, const std::string& file)
{
    return ReadIniString("Settings", key, "", file) != "" ||
           ReadIniString("Settings", key, "-", file) != "-";
}

} // namespace

Settings LoadSettingsFrom(const std::string& file)
{
    Settings s;
    s.IniPath = file;
    s.PortName = ReadIniString("Settings", "Port", "COM1", file);
    s.PingInterval = ParseDecimal(ReadIniString("Settings", "PingInterval", "10000", file));
    // 0 (also an empty or unreadable value) would send keep-alives at the
    // timer's minimum period, each resetting the phone; below 0, none at all.
    if (s.PingInterval <= 0) s.PingInterval = DEFAULT_PING_INTERVAL;
    // Kept as the file gives it; nothing uses it.
    s.WaitPortTimeout = ParseDecimal(ReadIniString("Settings", "WaitPortTimeout", "25000", file));
    // Absent (or without a command in it), the phone gets the default bytes.
    if (SettingPresent("InitString", file)) {
        const std::vector<std::string> configured =
            InitCommands(ReadIniString("Settings", "InitString", "", file));
        if (!configured.empty()) {
            s.PhoneInitCommands = configured;
            // Each command ends with CR LF, as in the default.
            s.PhoneInitString.clear();
            for (const std::string& command : configured) s.PhoneInitString += command + "\r\n";
        }
    }
    s.KeypadPort = ParseDecimal(ReadIniString("Settings", "KeypadPort", "0", file));
    s.KeypadKey = TrimBlanks(ReadIniString("Settings", "KeypadKey", "", file));
    s.CommandTable = LoadKeyNames("Commands", file);
    for (const std::string& section : SectionNames(file)) {
        if (s.ProgramSections.size() == PROGRAM_SECTION_LIMIT) break;
        ProgramCommands program;
        program.Program = SectionProgram(section);
        if (program.Program.empty() || ProgramNameFault(program.Program)) continue;
        bool named = false;
        for (const ProgramCommands& earlier : s.ProgramSections)
            named = named || SameFileName(earlier.Program, program.Program);
        if (named) continue;
        program.Section = section;
        program.CommandTable = LoadKeyNames(section, file);
        s.ProgramSections.push_back(program);
    }
    return s;
}
