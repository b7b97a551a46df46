#include "settings_check.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>

#include "../actions/command_parse.h"
#include "ini_file.h"
#include "init_string.h"
#include "keypad_settings.h"
#include "settings_file.h"
#include "../util/text.h"
#include "settings_text.h"

namespace {

using std::string;

// Enough to show the pattern; the rest is counted.
const int OVERLAP_REPORT_LIMIT = 20;

typedef SettingsEntry Entry;
typedef SettingsSection Section;

string Lower(string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

string Quoted(const string& s)
{
    return "'" + s + "'";
}

// The sections as the profile functions read them, each entry that they
// would read otherwise than meant named and left out.
std::vector<Section> ReadSections(const string& text, bool marked, std::vector<Finding>& findings)
{
    const std::vector<TextLine> lines = LinesOf(text);
    const auto crAlone = std::find_if(lines.begin(), lines.end(), [&](const TextLine& l) {
        return l.end < text.size() && text[l.end] == '\r' && l.next == l.end + 1;
    });
    if (crAlone != lines.end())
        findings.push_back({static_cast<int>(crAlone - lines.begin()) + 1,
                            "this line ends with CR alone (no LF): Wine reads it as a line end, "
                            "not every Windows may; save the file with Windows line ends (CR LF)"});
    std::vector<Section> sections = SectionsOf(text);
    for (Section& s : sections) {
        std::vector<Entry> kept;
        for (const Entry& e : s.entries) {
            const string line = e.key + (e.hasEquals ? "=" + e.value : "");
            if (!e.key.empty() && e.key[0] == '[')
                findings.push_back({e.line, "section header without ']': " + Quoted(line) +
                                                " is not read as a section; close it with ']'"});
            else if (s.line == 0 && marked && e.line == 1)
                continue;  // the mark's own finding says what is lost
            else if (s.line == 0)
                findings.push_back({e.line, Quoted(line) +
                                                " is outside any section and is ignored; put it "
                                                "under [Settings] or [Commands]"});
            else if (e.key.empty())
                findings.push_back(
                    {e.line, "a value without a key name is ignored; write key=value"});
            else if (!e.hasEquals)
                findings.push_back({e.line, Quoted(line) + " has no '=' and is no key: it is "
                                                           "ignored; write key=value"});
            else
                kept.push_back(e);
        }
        s.entries = kept;
    }
    sections.erase(sections.begin());
    return sections;
}

bool IsDecimal(const string& s)
{
    const size_t digits = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (digits == s.size() || s.size() - digits > 10) return false;
    for (size_t i = digits; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    // Beyond 32 bits ParseDecimal wraps.
    const long long value = std::stoll(s);
    return value >= INT32_MIN && value <= INT32_MAX;
}

// How ParseDecimal reads a field, when that is not the whole field.
string NumberProblem(const string& field, const string& what)
{
    const string f = TrimBlanks(field);
    if (IsDecimal(f)) return "";
    const string value = std::to_string(ParseDecimal(f));
    if (f.empty()) return what + " is missing and is read as 0";
    const size_t sign = (f[0] == '-' || f[0] == '+') ? 1 : 0;
    if (f.size() > sign &&
        f.find_first_not_of("0123456789", sign) == string::npos)
        return what + " " + Quoted(f) + " is too large for 32 bits and wraps around to " + value +
               "; write a number from -2147483648 to 2147483647";
    return what + " " + Quoted(f) + " is not a plain decimal number and is read as " + value +
           "; write digits only, with an optional sign";
}

string HexProblem(const string& field)
{
    const string f = TrimBlanks(field);
    if (f.empty())
        return "an empty key field is typed as key code 0; remove the extra comma";
    if (f.size() > 1 && f[0] == '0' && (f[1] == 'x' || f[1] == 'X'))
        return "key " + Quoted(f) + " is read as 0 (the x ends the number); write it as " +
               f.substr(2) + " or $" + f.substr(2);
    const size_t first = f[0] == '$' ? 1 : 0;
    bool hex = first < f.size();
    for (size_t i = first; i < f.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(f[i]))) hex = false;
    char code[16];
    std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(ParseHex(f) & 0xFF));
    if (!hex)
        return "key " + Quoted(f) + " is not hexadecimal and is typed as code " + code +
               "; virtual-key codes are written in hex, e.g. 41 for A, 0D for Enter";
    if (f.size() - first > 8 || ParseHex(f) > 0xFF)
        return "key " + Quoted(f) + " is above FF: only its low byte, " + code +
               ", is typed; virtual-key codes are 01 to FE";
    return "";
}

void CheckCommand(const Entry& e, std::vector<Finding>& findings)
{
    auto warn = [&](const string& text) {
        findings.push_back({e.line, "key " + Quoted(e.key) + ": " + text});
    };
    if (e.value.size() > VALUE_LIMIT)
        warn("the command is " + std::to_string(e.value.size()) +
             " characters long; only the first " + std::to_string(VALUE_LIMIT) + " are read");
    // Split into fields exactly as the program reads the command.
    string rest = CommandText(e.value.substr(0, VALUE_LIMIT));
    const string keyword = NextField(rest);

    if (keyword.empty()) {
        // Only a comment: the placeholder quorvix-monitor --learn writes.
        if (!e.value.empty() && e.value[0] == ';')
            findings.push_back({e.line, "key " + Quoted(e.key) +
                                            ": no command yet; write one after its '=', before "
                                            "the ';'", true});
        else
            warn("no command: pressing it does nothing");
        return;
    }
    if (KeywordKind(keyword) == CommandKind::None) {
        const auto loose = std::find_if(std::begin(COMMAND_KEYWORDS), std::end(COMMAND_KEYWORDS),
                                        [&](const char* k) { return SameName(keyword, k); });
        if (loose != std::end(COMMAND_KEYWORDS)) {
            warn(Quoted(keyword) + " must be written in capitals, " + *loose +
                 "; as written, pressing the key does nothing");
            return;
        }
        string known;
        const char* const last = *(std::end(COMMAND_KEYWORDS) - 1);
        for (const char* k : COMMAND_KEYWORDS)
            known += (known.empty() ? "" : k == last ? " or " : ", ") + string(k);
        warn("unknown command " + Quoted(keyword) + ": pressing the key does nothing; use " +
             known);
        return;
    }
    if (keyword == "EXECUTE") {
        if (NextField(rest).empty())
            warn("EXECUTE without a file starts nothing; write EXECUTE,file,parameters");
    } else if (keyword == "KEYPRESS") {
        if (rest.empty())
            warn("KEYPRESS without key codes types nothing; write e.g. KEYPRESS,11,43");
        while (!rest.empty()) {
            const string problem = HexProblem(NextField(rest));
            if (!problem.empty()) warn(problem);
        }
    } else if (keyword == "MOUSECLICK") {
        const string button = NextField(rest);
        if (button != "L" && button != "R")
            warn("MOUSECLICK button " + Quoted(button) +
                 " is neither L nor R (capitals): pressing the key does nothing");
    } else if (keyword == "MOUSEMOVE") {
        const string axis = NextField(rest);
        if (axis != "X" && axis != "Y") {
            warn("MOUSEMOVE axis " + Quoted(axis) +
                 " is neither X nor Y (capitals): pressing the key does nothing");
            return;
        }
        const string problem = NumberProblem(rest, "the MOUSEMOVE step");
        if (!problem.empty()) warn(problem);
        if (ParseDecimal(TrimBlanks(rest)) == 0)
            warn("a MOUSEMOVE step of 0 does not move the cursor");
    } else {
        const string what = keyword == "VOLUME" ? "the VOLUME step" : "the WINAMP command number";
        const string problem = NumberProblem(rest, what);
        if (!problem.empty()) warn(problem);
        if (keyword == "VOLUME" && ParseDecimal(TrimBlanks(rest)) == 0)
            warn("a VOLUME step of 0 does not change the volume");
    }
}

// A repeated key name (as the profile functions compare names) is listed
// twice, but only its first value is ever read. Gives the line of the first
// occurrence for each repeat, 0 for first occurrences.
std::vector<int> EarlierLines(const std::vector<Entry>& entries)
{
    std::map<string, int> first;
    std::vector<int> earlier(entries.size(), 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto found = first.emplace(Lower(entries[i].key), entries[i].line);
        if (!found.second) earlier[i] = found.first->second;
    }
    return earlier;
}

void CheckKeyNames(const std::vector<Entry>& entries, std::vector<Finding>& findings)
{
    const std::vector<int> earlier = EarlierLines(entries);
    size_t listBytes = 1;
    bool cutReported = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        listBytes += e.key.size() + 1;
        if (listBytes > KEY_LIST_SIZE - 1 && !cutReported) {
            findings.push_back({e.line, "the Commands section is too long to load whole: its key "
                                        "names fill the " + std::to_string(KEY_LIST_SIZE) +
                                        "-byte list, so this key is cut "
                                        "short and those after it are not loaded; remove "
                                        "unused keys"});
            cutReported = true;
        }
        if (string(",1").find(e.key) != string::npos || string(",0").find(e.key) != string::npos)
            findings.push_back({e.line, "key " + Quoted(e.key) +
                                            " occurs in every press or release report, so its "
                                            "command runs at every key press; use the key's own "
                                            "name, e.g. +CKEV: 5"});
        if (e.key.find('"') != string::npos)
            findings.push_back({e.line, "key " + Quoted(e.key) +
                                            ": quotes are part of a key name and no report "
                                            "contains them, so it never runs; remove them"});
        if (earlier[i] != 0)
            findings.push_back({e.line, "key " + Quoted(e.key) + " is already on line " +
                                            std::to_string(earlier[i]) +
                                            ": this value is never used and the first one "
                                            "runs once for each; remove one of them"});
    }
    int overlaps = 0;
    int unreported = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        for (size_t o = 0; o < entries.size(); ++o) {
            const Entry& inner = entries[i];
            const Entry& outer = entries[o];
            if (i == o || earlier[i] != 0 || earlier[o] != 0 ||
                outer.key.size() < inner.key.size() || outer.key.find(inner.key) == string::npos ||
                SameName(inner.key, outer.key))
                continue;
            if (++overlaps > OVERLAP_REPORT_LIMIT) {
                ++unreported;
                continue;
            }
            findings.push_back({outer.line, "key " + Quoted(outer.key) + " contains key " +
                                                Quoted(inner.key) + " (line " +
                                                std::to_string(inner.line) +
                                                "): a press of the first also runs the "
                                                "second; end the shorter name with its "
                                                "comma, e.g. : 5, for 5"});
        }
    if (unreported > 0)
        findings.push_back({0, std::to_string(unreported) +
                                   " more keys contain other key names (not listed)"});
}

// A section of key names and their commands: [Commands] or a program's.
void CheckCommands(const Section& s, std::vector<Finding>& findings)
{
    const std::vector<int> earlier = EarlierLines(s.entries);
    for (size_t i = 0; i < s.entries.size(); ++i)
        if (earlier[i] == 0) CheckCommand(s.entries[i], findings);
    CheckKeyNames(s.entries, findings);
}

void CheckSettingsSection(const Section& s, std::vector<Finding>& findings)
{
    static const char* const known[] = {"Port",       "PingInterval", "WaitPortTimeout",
                                        "InitString", "KeypadPort",   "KeypadKey"};
    const string meansDefault = " means the default, a keep-alive every " +
                                std::to_string(DEFAULT_PING_INTERVAL) +
                                " ms; write the period you want";
    const string limit = std::to_string(SILENCE_LIMIT);
    const string tooLong = "PingInterval above " + limit + ": the link is silent longer than " +
                           std::to_string(SILENCE_LIMIT / 1000) +
                           " s between keep-alives and is reopened each time; use " + limit +
                           " or less";
    string defaultInit;
    for (const string& command : InitCommandsSent(DEFAULT_INIT_STRING))
        defaultInit += (defaultInit.empty() ? "" : "|") + command;
    const std::vector<int> earlier = EarlierLines(s.entries);
    for (size_t i = 0; i < s.entries.size(); ++i) {
        const Entry& e = s.entries[i];
        auto warn = [&](const string& text) { findings.push_back({e.line, text}); };
        if (earlier[i] != 0) {
            warn(e.key + " is already on line " + std::to_string(earlier[i]) +
                 ": this one is not read; remove one of them");
            continue;
        }
        if (e.value.size() > VALUE_LIMIT)
            warn(e.key + " is " + std::to_string(e.value.size()) +
                 " characters long; only the first " + std::to_string(VALUE_LIMIT) + " are read");
        const string value = e.value.substr(0, VALUE_LIMIT);
        // Only commands end at ';': here the comment is read as part of the value.
        if (value.find(';') != string::npos)
            warn(e.key + " holds ';': in [Settings] the text after it is part of the value, not "
                         "a comment; put the comment on a line of its own");
        if (SameName(e.key, "Port")) {
            if (value.empty()) warn("Port is empty: no port can be opened; write e.g. Port=COM5");
        } else if (SameName(e.key, "PingInterval")) {
            const string problem = NumberProblem(value, "PingInterval");
            if (!problem.empty()) warn(problem);
            const long long ms = ParseDecimal(TrimBlanks(value));
            if (ms == 0)
                warn("PingInterval 0" + meansDefault);
            else if (ms < 0)
                warn("a negative PingInterval" + meansDefault);
            else if (ms > SILENCE_LIMIT)
                warn(tooLong);
        } else if (SameName(e.key, "WaitPortTimeout")) {
            const string problem = NumberProblem(value, "WaitPortTimeout");
            if (!problem.empty()) warn(problem);
        } else if (SameName(e.key, "InitString")) {
            const std::vector<string> commands = InitCommands(value);
            for (const string& command : commands)
                if (!SameName(command.substr(0, 2), "AT"))
                    warn("InitString command " + Quoted(command) +
                         " does not begin with AT; the phone will not take it");
            if (commands.empty())
                warn("InitString has no command, so the default " + defaultInit +
                     " is sent; remove the key or write the commands, separated by |");
        } else if (SameName(e.key, KEYPAD_PORT_SETTING)) {
            const string problem = KeypadPortProblem(value);
            if (!problem.empty()) warn(problem);
        } else if (SameName(e.key, KEYPAD_KEY_SETTING)) {
            if (!IsKeypadKey(TrimBlanks(value)))
                warn("KeypadKey is not " + std::to_string(KEYPAD_KEY_DIGITS) +
                     " hexadecimal digits: no page can connect with it, and Quorvix writes a new "
                     "key in its place when the keypad page starts");
        } else {
            string hint;
            for (const char* k : known)
                if (SameName(e.key.substr(0, 4), string(k).substr(0, 4)))
                    hint = string("; did you mean ") + k + "?";
            warn("unknown setting " + Quoted(e.key) +
                 " is ignored (known: Port, PingInterval, WaitPortTimeout, InitString, KeypadPort, "
                 "KeypadKey)" + hint);
        }
    }
}

} // namespace

std::vector<Finding> CheckSettings(const string& bytes)
{
    std::vector<Finding> findings;
    const SettingsText decoded = DecodeSettings(bytes);
    if (decoded.encoding == SettingsEncoding::Utf16BE) {
        findings.push_back({0, "the file is UTF-16 big-endian (it starts with FE FF): Windows reads "
                               "it as ANSI, finds none of its sections and runs with the "
                               "defaults; save it in Notepad as ANSI or as Unicode"});
        return findings;
    }
    const bool marked = decoded.encoding == SettingsEncoding::Utf8Marked;
    const string& text = decoded.text;
    // The mark's bytes begin line 1 of a marked text.
    const size_t mark = marked ? string(UTF8_MARK).size() : 0;
    const std::vector<TextLine> lines = LinesOf(text);
    if (marked) {
        string header;
        if (HeaderName(LineText(text, lines[0]).substr(mark), header))
            findings.push_back({1, "the section header [" + header + "] sits behind a UTF-8 "
                                   "byte-order mark: Windows reads the mark as part of the "
                                   "line, so that section is not found and its settings are "
                                   "lost (Wine skips the mark); save the file without the mark "
                                   "(as ANSI or as Unicode), or let quorvix-monitor --write "
                                   "remove it"});
        else
            findings.push_back({1, "the file starts with a UTF-8 byte-order mark, which Windows "
                                   "reads as part of the first line (Wine skips it); save the "
                                   "file without the mark (as ANSI or as Unicode)"});
    }
    if (decoded.encoding != SettingsEncoding::Utf16LE && HoldsUtf8Letters(text.substr(mark))) {
        // Named on the first line with such a letter.
        const auto beyond = std::find_if(lines.begin(), lines.end(), [&](const TextLine& l) {
            const string line = LineText(text, l).substr(l.start == 0 ? mark : 0);
            return std::any_of(line.begin(), line.end(), [](char c) { return (c & 0x80) != 0; });
        });
        findings.push_back({static_cast<int>(beyond - lines.begin()) + 1,
                            "this line holds UTF-8 text, which the program reads in the "
                            "system's ANSI code page as other letters (unless Windows uses "
                            "UTF-8 for it); save the file as Unicode in Notepad, or keep to ASCII"});
    }
    const std::vector<Section> sections = ReadSections(text, marked, findings);
    const Section* settings = nullptr;
    const Section* commands = nullptr;
    std::vector<const Section*> programs;
    size_t nameBytes = 1;
    bool namesCut = false;
    for (const Section& s : sections) {
        nameBytes += s.name.size() + 1;
        if (nameBytes > KEY_LIST_SIZE - 1 && !namesCut) {
            findings.push_back({s.line, "the section names fill the " +
                                            std::to_string(KEY_LIST_SIZE) +
                                            " bytes that the program reads of them: [" + s.name +
                                            "] and every section after it are not found; remove "
                                            "sections you no longer use"});
            namesCut = true;
        }
        if (namesCut) continue;
        const string program = SectionProgram(s.name);
        if (!program.empty()) {
            if (const char* fault = ProgramNameFault(program)) {
                findings.push_back({s.line, "section [" + s.name + "] is not read: " +
                                                Quoted(program) + " " + fault});
                continue;
            }
            const auto first = std::find_if(programs.begin(), programs.end(), [&](const Section* p) {
                return SameName(SectionProgram(p->name), program);
            });
            if (first != programs.end()) {
                findings.push_back({s.line, "a second section for " + program +
                                                " (the first is on line " +
                                                std::to_string((*first)->line) +
                                                ") is not read; move its lines into the first"});
                continue;
            }
            if (programs.size() == PROGRAM_SECTION_LIMIT) {
                findings.push_back({s.line, "more than " + std::to_string(PROGRAM_SECTION_LIMIT) +
                                                " program sections: [" + s.name +
                                                "] is not read; remove sections of programs "
                                                "you no longer use"});
                continue;
            }
            if (const char* doubt = ProgramNameDoubt(program))
                findings.push_back({s.line, "section [" + s.name + "] never applies: " +
                                                Quoted(program) + " " + doubt});
            programs.push_back(&s);
            continue;
        }
        const Section** slot = SameName(s.name, "Settings")   ? &settings
                               : SameName(s.name, "Commands") ? &commands
                                                              : nullptr;
        if (!slot) {
            string why = " is not read (the sections are [Settings], [Commands] and "
                         "[Commands:program.exe])";
            // The name runs to the line's last ']', blanks inside the brackets included.
            if (s.name.find(']') != string::npos)
                why = " is not read: a header is read up to its line's last ']', so a second "
                      "']' on the line makes another section; put the comment on a line of its "
                      "own";
            findings.push_back({s.line, "section [" + s.name + "]" + why});
            continue;
        }
        if (*slot) {
            findings.push_back({s.line, "a second [" + s.name + "] section (the first is on line " +
                                            std::to_string((*slot)->line) +
                                            ") is not read; move its lines into the first"});
            continue;
        }
        *slot = &s;
    }
    if (settings) CheckSettingsSection(*settings, findings);
    bool programKeys = false;
    for (const Section* p : programs) {
        if (p->entries.empty())
            findings.push_back({p->line, "section [" + p->name + "] has no keys: it changes "
                                         "nothing; add the keys whose commands differ in that "
                                         "program"});
        programKeys = programKeys || !p->entries.empty();
        CheckCommands(*p, findings);
    }
    if ((!commands || commands->entries.empty()) && !programKeys) {
        findings.push_back({commands ? commands->line : 0,
                            "no keys in [Commands]: no phone key does anything; add lines such "
                            "as +CKEV: 5=WINAMP,40046"});
    } else if (commands) {
        CheckCommands(*commands, findings);
    }
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return findings;
}
