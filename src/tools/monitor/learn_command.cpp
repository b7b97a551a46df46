#include "monitor_commands.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "../../keys/command_choice.h"
#include "../../keys/keys.h"
#include "../../settings/ini_file.h"
#include "../console_text.h"
#include "../console_port.h"
#include "key_learning.h"
#include "../../settings/settings_edit.h"

namespace {
// Keys learned so far by --learn, and the section they are for: in the
// ANSI code page, as the program reads it, and in UTF-8, as a Unicode file
// holds it and the console shows it. Main thread.
std::vector<LearnedKey> Learned;
std::string LearnedSection = "Commands";
std::string LearnedSectionUtf8 = "Commands";

// The keys the section has already.
std::vector<std::string> KnownKeys(const Settings& settings)
{
    if (LearnedSection == "Commands") return settings.CommandTable;
    const ProgramCommands* own = SectionForProgram(settings, SectionProgram(LearnedSection));
    return own ? own->CommandTable : std::vector<std::string>();
}
} // namespace

void LearnInto(const std::string& ansi, const std::string& utf8)
{
    LearnedSection = ansi;
    LearnedSectionUtf8 = utf8;
}

void LearnLine(const Settings& settings, const std::string& line)
{
    if (!IsKeyPress(line)) return;
    std::string detail;
    const std::string shown = Printable(line);
    const std::vector<std::string> own = KnownKeys(settings);
    auto names = [&](const std::string& key) { return LineNamesKey(line, key); };
    if (LearnedSection != "Commands" && std::none_of(own.begin(), own.end(), names)) {
        // A placeholder in the program's section would switch the key off there.
        const auto general = std::find_if(settings.CommandTable.begin(), settings.CommandTable.end(), names);
        if (general != settings.CommandTable.end()) {
            Say(stdout, "%s   key %s runs %s from [Commands], in that program too; not added\n",
                shown.c_str(), Printable(*general).c_str(),
                Printable(ReadIniString("Commands", *general, "", settings.IniPath)).c_str());
            return;
        }
    }
    switch (SeeKeyPress(line, own, Learned, detail)) {
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
    std::vector<std::string> lines(Learned.size());
    std::transform(Learned.begin(), Learned.end(), lines.begin(),
                   [](const LearnedKey& k) { return LearnedCommandsLine(k.name); });
    // Written before anything is printed: a console being closed gives the
    // program a few seconds, and its output may not outlive them.
    std::string why, note;
    const bool written =
        write && EditSettingsFile(settings.IniPath,
                                  [&](const std::string& text, unsigned codePage) {
                                      return WithCommandLines(
                                          text, lines,
                                          codePage == CP_UTF8 ? LearnedSectionUtf8 : LearnedSection,
                                          codePage);
                                  },
                                  why, &note);
    Say(stdout, "%u new key%s:\n", static_cast<unsigned>(Learned.size()),
        Learned.size() == 1 ? "" : "s");
    for (const std::string& line : lines) Say(stdout, "%s\n", line.c_str());
    if (!write) {
        SayIn(CP_UTF8, stdout, "quorvix-monitor --learn --write adds such lines to [%s] in ",
              LearnedSectionUtf8.c_str());
        Say(stdout, "%s.\n", settings.IniPath.c_str());
        return result;
    }
    if (!written) {
        Say(stderr, "%s cannot be written: %s.\n", settings.IniPath.c_str(), why.c_str());
        return 2;
    }
    SayIn(CP_UTF8, stdout, "Added to [%s] in ", LearnedSectionUtf8.c_str());
    Say(stdout, "%s; put a command after each '='%s.\n", settings.IniPath.c_str(),
        note.empty() ? "" : ("; " + note).c_str());
    return result;
}
