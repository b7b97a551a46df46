#include "monitor_commands.h"

#include <cstdio>
#include <vector>

#include "../../keys/command_choice.h"
#include "../../keys/keys.h"
#include "../../util/ini_file.h"
#include "../console_text.h"
#include "../console_port.h"
#include "key_learning.h"
#include "../../settings/settings_edit.h"

namespace {
// Keys learned so far by --learn, and the section they are for. Main thread.
std::vector<LearnedKey> Learned;
std::string LearnedSection = "Commands";

// The keys the section has already.
std::vector<std::string> KnownKeys(const Settings& settings)
{
    if (LearnedSection == "Commands") return settings.CommandTable;
    const ProgramCommands* own = SectionForProgram(settings, SectionProgram(LearnedSection));
    return own ? own->CommandTable : std::vector<std::string>();
}
} // namespace

void LearnInto(const std::string& section)
{
    LearnedSection = section;
}

void LearnLine(const Settings& settings, const std::string& line)
{
    if (!IsKeyPress(line)) return;
    std::string detail;
    const std::string shown = Printable(line);
    switch (SeeKeyPress(line, KnownKeys(settings), Learned, detail)) {
    case KeySeen::Mapped:
        Say(stdout, "%s   key %s already runs %s\n", shown.c_str(), Printable(detail).c_str(),
            Printable(ReadIniString(LearnedSection, detail, "", settings.IniPath)).c_str());
        break;
    case KeySeen::Again: Say(stdout, "%s   %s again\n", shown.c_str(), detail.c_str()); break;
    case KeySeen::New:
        Say(stdout, "%s   new key %s   %s\n", shown.c_str(), detail.c_str(),
            LearnedCommandsLine(detail).c_str());
        break;
    case KeySeen::Unlearnable:
        Say(stdout, "%s   not learned: %s\n", shown.c_str(), detail.c_str());
        break;
    }
}

int FinishLearning(const Settings& settings, bool write, int result)
{
    if (Learned.empty()) {
        Say(stdout, "No new keys.\n");
        return result;
    }
    std::vector<std::string> lines;
    Say(stdout, "%u new key%s:\n", static_cast<unsigned>(Learned.size()),
        Learned.size() == 1 ? "" : "s");
    for (const LearnedKey& k : Learned) {
        lines.push_back(LearnedCommandsLine(k.name));
        Say(stdout, "%s\n", lines.back().c_str());
    }
    if (!write) {
        Say(stdout, "quorvix-monitor --learn --write adds such lines to [%s] in %s.\n",
            LearnedSection.c_str(), settings.IniPath.c_str());
        return result;
    }
    std::string why;
    if (!EditSettingsFile(
            settings.IniPath,
            [&](const std::string& text) { return WithCommandLines(text, lines, LearnedSection); }, why)) {
        Say(stderr, "%s cannot be written: %s.\n",
            settings.IniPath.c_str(), why.c_str());
        return 2;
    }
    Say(stdout, "Added to [%s] in %s; put a command after each '='.\n",
        LearnedSection.c_str(), settings.IniPath.c_str());
    return result;
}
