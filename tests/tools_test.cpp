// The tools for setting up a real phone: the settings checker's findings and
// exit codes, the key monitor on a scripted phone over a pty pair, finding
// the phone's port and learning its keys.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "link/serial_io.h"
#include "settings/settings_check.h"
#include "settings/settings_edit.h"
#include "settings/settings_testing.h"
#include "settings/settings_text.h"
#include "test_support.h"
#include "tools/console_stop.h"
#include "tools/monitor/key_learning.h"
#include "tools/monitor/monitor_commands.h"
#include "tools/monitor/port_finder.h"
#include "settings/ini_file.h"
#include "util/foreground_program.h"
#include "util/program_folder.h"
#include "util/program_folder_testing.h"
#include "util/text.h"

namespace {

using std::string;

string Describe(const std::vector<Finding>& findings)
{
    string all;
    for (const Finding& f : findings) all += std::to_string(f.line) + ": " + f.message + "\n";
    return all;
}

// Each trap on a line of its own in an otherwise clean file: the checker
// names that line, and says what will happen.
TEST(SettingsCheck, FindsEachTrapOnItsLine)
{
    const struct {
        const char* line;
        bool inSettings;
        const char* says;
    } traps[] = {
        {"+CKEV: 9=winamp,40046", false, "must be written in capitals, WINAMP"},
        {"+CKEV: 9=WINAPM,40046", false, "unknown command 'WINAPM'"},
        {"+CKEV: 9=KEYPRESS,0x41", false, "write it as 41 or $41"},
        {"+CKEV: 9=KEYPRESS,11,4G", false, "'4G' is not hexadecimal"},
        {"+CKEV: 9=KEYPRESS,1FF", false, "above FF: only its low byte, FF"},
        {"+CKEV: 9=KEYPRESS", false, "KEYPRESS without key codes"},
        {"+CKEV: 9=MOUSECLICK,M", false, "neither L nor R"},
        {"+CKEV: 9=MOUSECLICK,l", false, "neither L nor R"},
        {"+CKEV: 9=MOUSEMOVE,Z,4", false, "neither X nor Y"},
        {"+CKEV: 9=MOUSEMOVE,X,4px", false, "'4px' is not a plain decimal number and is read as 4"},
        {"+CKEV: 9=VOLUME,+", false, "'+' is not a plain decimal number and is read as 0"},
        {"+CKEV: 9=WINAMP,40046 ; play", false, ""},
        {"+CKEV: 9=WINAMP,4e4", false, "read as 4"},
        {"+CKEV: 9=EXECUTE, ,/x", false, "EXECUTE without a file"},
        {"+CKEV: 9=", false, "no command"},
        {"Port=", true, "Port is empty"},
        {"Port=COM1     ; default COM1", true, "Port holds ';'"},
        {"PingInterval=0", true, "PingInterval 0 means the default"},
        {"PingInterval=-5", true, "negative PingInterval means the default"},
        {"PingInterval=99999999999", true, "too large for 32 bits and wraps around to 1215752191"},
        {"PingInterval=abc", true, "'abc' is not a plain decimal number"},
        {"PingInterval=25000", true, "above 20000"},
        {"PingInterval=3 000", true, "read as 3"},
        {"Pingintervall=1000", true, "unknown setting 'Pingintervall'"},
        {"InitString= | ", true, "InitString has no command"},
        {"InitString=ATZ|CMER=3,2", true, "'CMER=3,2' does not begin with AT"},
        {",1=VOLUME,1", false, "occurs in every press or release report"},
        {"1=VOLUME,1", false, "occurs in every press or release report"},
        {"0=VOLUME,1", false, "occurs in every press or release report"},
        {"+CKEV: 5x=WINAMP,1", false, "contains key '+CKEV: 5'"},
        {"+CKEV: 5=WINAMP,1", false, "is already on line 4"},
        {"+ckev: 5=WINAMP,1", false, "is already on line 4"},
        {"\"+CKEV: 9\"=WINAMP,1", false, "quotes are part of a key name"},
    };
    for (const auto& t : traps) {
        SCOPED_TRACE(t.line);
        const string text = string("[Settings]\r\n") + (t.inSettings ? t.line : "Port=COM5") +
                             "\r\n[Commands]\r\n+CKEV: 5=WINAMP,40046\r\n" +
                             (t.inSettings ? "" : t.line) + "\r\n";
        const std::vector<Finding> found = CheckSettings(text);
        if (*t.says == '\0') {
            EXPECT_TRUE(found.empty()) << Describe(found);
            continue;
        }
        const int line = t.inSettings ? 2 : 5;
        const bool named = std::any_of(found.begin(), found.end(), [&](const Finding& f) {
            return f.line == line && f.message.find(t.says) != string::npos;
        });
        EXPECT_TRUE(named) << Describe(found);
    }
}

TEST(SettingsCheck, ACleanFileGivesNothingAndStructuralSlipsAreNamed)
{
    const string clean = "; my phone\r\n[Settings]\r\nPort=COM5\r\nPingInterval=10000\r\n"
                         "InitString=ATZ|AT+CMER=3,1,0,0,0\r\n[Commands]\r\n"
                         "+CKEV: 5=\"WINAMP,40046\"\r\n+CKEV: 6=KEYPRESS,$11,43\r\n"
                         "+CKEV: 7=MOUSEMOVE,Y,-5\r\n+CKEV: 8=EXECUTE,notepad.exe,a,b\r\n"
                         "+CKEV: 9=MOUSECLICK, R\r\n+CKEV: #=VOLUME,1\r\n";
    EXPECT_TRUE(CheckSettings(clean).empty()) << Describe(CheckSettings(clean));
    EXPECT_TRUE(CheckSettings("[Commands]\na=VOLUME,1").empty());

    const std::vector<Finding> slips =
        CheckSettings("x=1\r\n[Command]\r\n[Commands\r\n[Commands]\r\nnoequals\r\n"
                      "a=WINAMP,1\r\n[commands]\r\nb=WINAMP,2\r\n");
    const string all = Describe(slips);
    EXPECT_NE(all.find("1: 'x=1' is outside any section"), string::npos) << all;
    EXPECT_NE(all.find("2: section [Command] is not read"), string::npos) << all;
    EXPECT_NE(all.find("3: section header without ']'"), string::npos) << all;
    EXPECT_NE(all.find("5: 'noequals' has no '='"), string::npos) << all;
    EXPECT_NE(all.find("7: a second [commands] section (the first is on line 4)"), string::npos)
        << all;

    EXPECT_NE(Describe(CheckSettings("[Settings]\r\nPort=COM1\r\n")).find("no keys in [Commands]"),
              string::npos);
    // A byte-order mark and CR-only line ends are named as such; the rest is
    // read as the program on Windows reads it.
    const string bom = Describe(
        CheckSettings("\xEF\xBB\xBF[Settings]\r\nPort=COM5\r\n[Commands]\r\na=WINAMP,1\r\n"));
    EXPECT_NE(bom.find("1: the section header [Settings] sits behind a UTF-8 byte-order mark"), string::npos) << bom;
    EXPECT_NE(bom.find("2: 'Port=COM5' is outside any section"), string::npos) << bom;
    const string cr = Describe(CheckSettings("[Settings]\rPort=COM5\r[Commands]\ra=WINAMP,1\r"));
    EXPECT_NE(cr.find("1: this line ends with CR alone"), string::npos) << cr;
    EXPECT_EQ(cr.find("no keys in [Commands]"), string::npos) << cr;
    const string longCommand = "[Commands]\r\na=EXECUTE,x.exe," + string(300, 'p') + "\r\n";
    EXPECT_NE(Describe(CheckSettings(longCommand)).find("2: key 'a': the command is 314 characters"),
              string::npos);
}

// Program sections: checked like [Commands]; a name that is no file name
// and a program named twice are said; their own keys need no [Commands] twin.
TEST(SettingsCheck, ProgramSectionsAreCheckedLikeCommands)
{
    const string clean = "[Commands]\r\n: 5,=WINAMP,1\r\n[Commands:POWERPNT.EXE]\r\n"
                         ": 7,=KEYPRESS,22\r\n";
    EXPECT_TRUE(CheckSettings(clean).empty()) << Describe(CheckSettings(clean));
    EXPECT_TRUE(CheckSettings("[Commands:vlc.exe]\r\n: 5,=KEYPRESS,20\r\n").empty());
    const string all = Describe(CheckSettings(
        clean + ": 8,=keypress,22\r\n[Commands:C:\\Apps\\vlc.exe]\r\n: 5,=KEYPRESS,20\r\n"
                "[Commands:*.exe]\r\n[Commands: powerpnt.exe]\r\n: 6,=KEYPRESS,21\r\n"
                "[Commands:vlc.exe]\r\n"));
    EXPECT_NE(all.find("5: key ': 8,': 'keypress' must be written in capitals"), string::npos) << all;
    EXPECT_NE(all.find("6: section [Commands:C:\\Apps\\vlc.exe] is not read: 'C:\\Apps\\vlc.exe' "
                       "is a path"), string::npos) << all;
    EXPECT_NE(all.find("8: section [Commands:*.exe] is not read: '*.exe' has a wildcard"),
              string::npos) << all;
    EXPECT_NE(all.find("9: a second section for powerpnt.exe (the first is on line 3)"),
              string::npos) << all;
    EXPECT_NE(all.find("11: section [Commands:vlc.exe] has no keys"), string::npos) << all;
    // Names the foreground program's file name never has.
    const string never = Describe(CheckSettings("[Commands:POWERPNT]\r\na=WINAMP,1\r\n"
                                                "[Commands:Slide Show - talk.pptx - PowerPoint]\r\nb=WINAMP,1\r\n"
                                                "[Commands:vlc.exe.]\r\nc=WINAMP,1\r\n"));
    EXPECT_NE(never.find("1: section [Commands:POWERPNT] never applies: 'POWERPNT' has no extension"), string::npos) << never;
    EXPECT_NE(never.find("5: section [Commands:vlc.exe.] never applies: 'vlc.exe.' ends with a dot"), string::npos) << never;
    // The program reads 32767 bytes of section names; the rest it never finds.
    string many = "[Commands]\r\na=WINAMP,1\r\n";
    for (int i = 0; i < 1200; ++i) many += "[Commands:program-number-" + std::to_string(1000 + i) + ".exe]\r\nb=WINAMP,1\r\n";
    const string cut = Describe(CheckSettings(many));
    // One byte ends the list, 9 are "Commands" and its zero, 33 each program's name.
    const int first = 2 * ((32766 - 1 - 9) / 33 + 1) + 1;
    EXPECT_NE(cut.find(std::to_string(first) + ": the section names fill the 32767 bytes"), string::npos) << cut.substr(0, 2000);
}

TEST(SettingsCheck, ACommandsSectionTooLongToLoadIsNamedWhereItIsCut)
{
    // The same file loads, through the profile functions, up to K2604 whole.
    string text = "[Commands]\r\n";
    for (int i = 0; i < 5000; ++i)
        text += "+CKEV: K" + std::to_string(i) + "=WINAMP," + std::to_string(i) + "\r\n";
    const std::vector<Finding> found = CheckSettings(text);
    const auto cut = std::find_if(found.begin(), found.end(), [](const Finding& f) {
        return f.message.find("too long to load whole") != string::npos;
    });
    ASSERT_NE(cut, found.end());
    EXPECT_EQ(cut->line, 2 + 2605);
    // Key names that contain others are listed up to a limit, then counted.
    EXPECT_LE(found.size(), 25u);
}

struct CheckerProgram : ::testing::Test {
    TempDir dir;
    string Run(const string& args, int& code)
    {
        const string exe = dir.Win("quorvix-check.exe");
        CopyFileA((ModuleDir() + "\\..\\quorvix-check.exe").c_str(), exe.c_str(), FALSE);
        string out;
        code = RunProgram("\"" + exe + "\"" + args, 30000, &out);
        return out;
    }
};

TEST_F(CheckerProgram, ExitCodesTellCleanFromWarningsFromUnreadable)
{
    int code = -1;
    WriteBytes(dir.Win("quorvix.ini"), "[Settings]\r\nPort=COM4\r\n[Commands]\r\n+CKEV: 5=WINAMP,1\r\n");
    EXPECT_NE(Run("", code).find("no problems found"), string::npos);
    EXPECT_EQ(code, 0);

    WriteBytes(dir.Win("other.ini"), "[Settings]\r\nPingInterval=0\r\n[Commands]\r\n1=VOLUME,1\r\n");
    const string out = Run(" \"" + dir.Win("other.ini") + "\"", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("other.ini:2: PingInterval 0"), string::npos) << out;
    EXPECT_NE(out.find("other.ini:4: key '1' occurs in every"), string::npos) << out;
    EXPECT_NE(out.find("2 warnings"), string::npos) << out;

    EXPECT_NE(Run(" \"" + dir.Win("absent.ini") + "\"", code).find("absent.ini: cannot be read"),
              string::npos);
    EXPECT_EQ(code, 2);
}

// The keypad page's settings: a port out of range or held by a program, a
// key that is not 32 hexadecimal digits.
TEST_F(CheckerProgram, NamesAKeypadPortOutOfRangeOrTakenAndAKeyThatIsNone)
{
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    const SOCKET held = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    int length = sizeof at;
    ASSERT_EQ(bind(held, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    listen(held, 1);
    getsockname(held, reinterpret_cast<sockaddr*>(&at), &length);
    const string port = std::to_string(ntohs(at.sin_port));
    const string settings = "[Settings]\r\nKeypadPort=" + port + "\r\nKeypadKey=0123456789ABCDEF0123456789abcdef\r\n"
                           "[Commands]\r\n+CKEV: 5=WINAMP,1\r\n";
    WriteBytes(dir.Win("quorvix.ini"), settings);
    int code = -1;
    string out = Run("", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("quorvix.ini: KeypadPort " + port + " is in use now"), string::npos) << out;
    closesocket(held);
    EXPECT_NE(Run("", code).find("no problems found"), string::npos);
    EXPECT_EQ(code, 0);

    WriteBytes(dir.Win("quorvix.ini"), "[Settings]\r\nKeypadPort=70000\r\nKeypadKey=12345\r\n"
                                       "[Commands]\r\n+CKEV: 5=WINAMP,1\r\n");
    out = Run("", code);
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("quorvix.ini:2: KeypadPort 70000 is above 65535"), string::npos) << out;
    EXPECT_NE(out.find("quorvix.ini:3: KeypadKey is not 32 hexadecimal digits"), string::npos) << out;
    WSACleanup();
}

// The settings file changed by the tools: only the port's value, or lines
// added at the end of [Commands]; every other byte, line end included, stays.
TEST(SettingsEdit, ThePortAndLearnedLinesChangeNothingElse)
{
    const string crlf = "; mine\r\n[Settings]\r\n; the phone\r\nport = COM1\r\nPingInterval=5000\r\n\r\n"
                        "[Commands]\r\n: 1,=WINAMP,1 ; play\r\n\r\n";
    const struct {
        const char* what;
        string text, port, expected;
    } ports[] = {
        {"a Port line", crlf, "COM32", "; mine\r\n[Settings]\r\n; the phone\r\nport =COM32\r\nPingInterval=5000\r\n\r\n"
                                       "[Commands]\r\n: 1,=WINAMP,1 ; play\r\n\r\n"},
        {"no Port line", "[settings]\nPingInterval=1\n", "COM5", "[settings]\nPort=COM5\nPingInterval=1\n"},
        {"Port only in [Commands]", "[Commands]\r\nPort=x\r\n", "COM5",
         "[Settings]\r\nPort=COM5\r\n[Commands]\r\nPort=x\r\n"},
        {"an empty file", "", "COM5", "[Settings]\r\nPort=COM5\r\n"},
        {"a header without a line end", "[Settings]", "COM5", "[Settings]\r\nPort=COM5\r\n"},
    };
    for (const auto& c : ports) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WithPort(c.text, c.port), c.expected);
    }
    const std::vector<string> learned = {": 5,= ; key 5: put a command here", ": *,= ; key *: put a command here"};
    const struct {
        const char* what;
        string text, expected;
    } commands[] = {
        {"after the last key", crlf, "; mine\r\n[Settings]\r\n; the phone\r\nport = COM1\r\nPingInterval=5000\r\n\r\n"
                                     "[Commands]\r\n: 1,=WINAMP,1 ; play\r\n" + learned[0] + "\r\n" + learned[1] + "\r\n\r\n"},
        {"before the next section, LF", "[Commands]\na=1\n[Other]\nb=2", "[Commands]\na=1\n" + learned[0] + "\n" +
                                        learned[1] + "\n[Other]\nb=2"},
        {"no [Commands], no last line end", "[Settings]\r\nPort=COM5",
         "[Settings]\r\nPort=COM5\r\n[Commands]\r\n" + learned[0] + "\r\n" + learned[1] + "\r\n"},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WithCommandLines(c.text, learned), c.expected);
    }
    // A program's section is found by its program, however its header is spaced.
    const string two = "[Commands]\r\na=1\r\n[Commands: vlc.exe]\r\nb=2\r\n";
    EXPECT_EQ(WithCommandLines(two, {learned[0]}, "Commands:VLC.EXE"), two + learned[0] + "\r\n");
    EXPECT_EQ(WithCommandLines("[Commands]\r\na=1\r\n", {learned[0]}, "Commands:mpc.exe"),
              "[Commands]\r\na=1\r\n[Commands:mpc.exe]\r\n" + learned[0] + "\r\n");
}

TEST(SettingsEdit, AFileIsReplacedWholeOrLeftAsItWas)
{
    TempDir dir;
    const string path = dir.Win("quorvix.ini");
    string why;
    ASSERT_TRUE(ReplaceFileWhole(path, "[Settings]\r\nPort=COM5\r\n", why)) << why;
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(ReplaceFileWhole(path, "[Settings]\r\nPort=COM6\r\n", why));
    EXPECT_NE(why.find("read-only"), string::npos) << why;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadBytes(path), "[Settings]\r\nPort=COM5\r\n");
    // An existing file is replaced in place (its attributes and permissions
    // stay on Windows; Wine's drive Z: keeps none to compare).
    EXPECT_TRUE(ReplaceFileWhole(path, "[Settings]\r\nPort=COM7\r\n", why)) << why;
    EXPECT_EQ(ReadBytes(path), "[Settings]\r\nPort=COM7\r\n");
    EXPECT_FALSE(FileExists(path + ".new"));
    string bytes;
    EXPECT_FALSE(ReadWholeFile(dir.Win("absent.ini"), bytes, why));
    EXPECT_EQ(why, "");
}

// Windows' documented failures of ReplaceFile, which Wine never gives,
// played by a stand-in: each ends with the old settings or the new ones in
// place, whole, and no copy of them deleted while the file lacks both.
struct ReplaceFailure {
    DWORD error;
    bool renamesOld;   // the old file goes to the backup name (1177)
    bool holdsFiles;   // the new file and the backup stay open: nothing moves them
};
ReplaceFailure Playing;
std::vector<HANDLE> HeldFiles;
BOOL WINAPI FailingReplace(LPCSTR replaced, LPCSTR replacement, LPCSTR backup, DWORD, LPVOID, LPVOID)
{
    if (Playing.renamesOld) MoveFileA(replaced, backup);
    if (Playing.holdsFiles)
        for (LPCSTR held : {replacement, backup})
            HeldFiles.push_back(CreateFileA(held, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    SetLastError(Playing.error);
    return FALSE;
}

TEST(SettingsEdit, AReplaceThatFailsAsWindowsMayLosesNeitherFile)
{
    const string OLD = "[Settings]\r\nPort=COM5\r\n", NEW = "[Settings]\r\nPort=COM6\r\n";
    const struct {
        const char* what;
        ReplaceFailure failure;
        bool replaced;
        const char* said;
    } cases[] = {
        {"1176: both keep their names, and stay so", {ERROR_UNABLE_TO_MOVE_REPLACEMENT, false, false}, false, "; it is unchanged"},
        {"1177: the old one under the backup name", {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, false}, true, ""},
        {"1177, and the new one cannot be moved", {ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, true}, false, "neither file could be put back"},
        {"refused outright", {ERROR_INVALID_PARAMETER, false, false}, false, "; it is unchanged"},
    };
    ReplaceCall = FailingReplace;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const string path = dir.Win("quorvix.ini");
        WriteBytes(path, OLD);
        Playing = c.failure;
        string why;
        EXPECT_EQ(ReplaceFileWhole(path, NEW, why), c.replaced) << why;
        EXPECT_NE(why.find(c.said), string::npos) << why;
        for (HANDLE h : HeldFiles) CloseHandle(h);
        HeldFiles.clear();
        if (c.failure.holdsFiles) {
            // Nothing could move: both copies stay, under the names said.
            EXPECT_FALSE(FileExists(path));
            EXPECT_EQ(ReadBytes(path + ".old"), OLD);
            EXPECT_EQ(ReadBytes(path + ".new"), NEW);
            continue;
        }
        EXPECT_EQ(ReadBytes(path), c.replaced ? NEW : OLD);
        EXPECT_FALSE(FileExists(path + ".new"));
        EXPECT_FALSE(FileExists(path + ".old"));
    }
    ReplaceCall = ReplaceFileA;
}

// Hostile files, each in every encoding the profile functions read: the
// shared reading finds what the program reads from the same bytes, and an
// edit changes that reading in the edited value alone.
string InAnsi(const string& utf8)
{
    const std::wstring wide = Wide(utf8);
    char ansi[4096] = {};
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
    return ansi;
}

// Port, PingInterval and every [Commands] key with its value, read with the
// profile functions as the program reads them.
string ProgramReading(const string& path)
{
    string r = "Port=" + ReadIniString("Settings", "Port", "-", path) +
               " Ping=" + ReadIniString("Settings", "PingInterval", "-", path) + " |";
    for (const string& key : LoadKeyNames("Commands", path))
        r += " " + key + "=" + ReadIniString("Commands", key, "-", path);
    return r;
}

// The same from the shared reading: the first section and key of each name.
string SharedReading(const string& bytes)
{
    const SettingsText decoded = DecodeSettings(bytes);
    const std::vector<SettingsSection> sections = SectionsOf(decoded.text);
    auto section = [&](const char* name) -> const SettingsSection* {
        for (const SettingsSection& s : sections)
            if (s.line > 0 && SameName(s.name, name)) return &s;
        return nullptr;
    };
    auto value = [](const SettingsSection* s, const string& key) -> string {
        if (s)
            for (const SettingsEntry& e : s->entries)
                if (SameName(e.key, key)) return e.value.substr(0, VALUE_LIMIT);
        return "-";
    };
    const SettingsSection* settings = section("Settings");
    const SettingsSection* commands = section("Commands");
    string r = "Port=" + value(settings, "Port") + " Ping=" + value(settings, "PingInterval") + " |";
    if (commands)
        for (const SettingsEntry& e : commands->entries)
            if (e.hasEquals) r += " " + e.key + "=" + value(commands, e.key);
    return decoded.encoding == SettingsEncoding::Ansi ? r : InAnsi(r);
}

TEST(SettingsText, TheToolsReadEveryFileAsTheProgramDoesAndEditOnlyWhatTheyMean)
{
    const struct {
        const char* what;
        string text;  // ASCII, or UTF-8 in the Unicode encodings
    } files[] = {
        {"plain", "[Settings]\r\nPort=COM22\r\nPingInterval=5000\r\n[Commands]\r\n: 1,=WINAMP,40048\r\n: E,=KEYPRESS,41\r\n"},
        {"a comment with brackets after the header", "[Settings] ; phone [main]\r\nPort=COM3\r\n[Commands]\r\na=1\r\n"},
        {"a second ]", "[Settings]]\r\nPort=COM3\r\n[Commands]\r\na=1\r\n"},
        {"blanks in the brackets, keys differing in case", "[ Settings ]\r\nPort=COM3\r\n[commands]\r\nA=1\r\na=2\r\n"},
        {"blanks around, quoted values", "  [Settings]  \r\n  Port = COM4  \r\n[Commands]\r\nq=\"WINAMP,1\"\r\nx='y'\r\n"},
        {"a header without ]", "[Settings\r\nPort=COM5\r\n[Commands]\r\nb=2\r\n"},
        {"lines outside, comments, no =", "Port=COM6\r\n[Settings]\r\nPingInterval=7\r\n[Commands]\r\n;c=3\r\nd\r\ne=4\r\n"},
        {"second sections", "[Settings]\r\nPort=COM7\r\n[Commands]\r\ne=1\r\n[settings]\r\nPort=COM8\r\n[COMMANDS]\r\nf=2\r\n"},
        {"LF alone, no last line end", "[Settings]\nPort=COM9\n[Commands]\ng=1"},
        {"a value beyond ASCII", "[Settings]\r\nPort=COM2\r\n[Commands]\r\nm=EXECUTE,C:\\M\xC3\xBCsik\\p.exe\r\n"},
    };
    // Windows' two; Wine also reads a UTF-8 mark as Unicode, Windows does not.
    const SettingsEncoding encodings[] = {SettingsEncoding::Ansi, SettingsEncoding::Utf16LE};
    TempDir dir;
    const string path = dir.Win("quorvix.ini");
    const string added = LearnedCommandsLine(": 7,");
    for (const auto& f : files)
        for (SettingsEncoding encoding : encodings) {
            SCOPED_TRACE(string(f.what) + ", encoding " + std::to_string(static_cast<int>(encoding)));
            SettingsText original;
            original.encoding = encoding;
            original.text = encoding == SettingsEncoding::Ansi ? InAnsi(f.text) : f.text;
            const string bytes = EncodeSettings(original);
            EXPECT_EQ(EncodeSettings(DecodeSettings(bytes)), bytes);
            WriteBytes(dir.Unix("quorvix.ini"), bytes);
            const string before = ProgramReading(path);
            EXPECT_EQ(SharedReading(bytes), before);

            string why;
            ASSERT_TRUE(EditSettingsFile(path, [](const string& t, unsigned) { return WithPort(t, "COM42"); }, why)) << why;
            const size_t port = before.find(' ');
            EXPECT_EQ(ProgramReading(path), "Port=COM42" + before.substr(port));
            EXPECT_EQ(DecodeSettings(ReadBytes(dir.Unix("quorvix.ini"))).encoding, encoding);

            WriteBytes(dir.Unix("quorvix.ini"), bytes);
            ASSERT_TRUE(EditSettingsFile(path, [&](const string& t, unsigned) { return WithCommandLines(t, {added}); }, why)) << why;
            EXPECT_EQ(ProgramReading(path), before + " : 7,=" + TrimBlanks(added.substr(added.find('=') + 1)));
        }
    // The checker names the header that opens another section than it seems to.
    EXPECT_NE(Describe(CheckSettings(files[2].text)).find("1: section [Settings]] is not read: a header is read up to its line's last ']'"),
              string::npos) << Describe(CheckSettings(files[2].text));
    // A valid Unicode file is a valid file to the checker too.
    SettingsText unicode;
    unicode.encoding = SettingsEncoding::Utf16LE;
    unicode.text = files[0].text;
    EXPECT_TRUE(CheckSettings(EncodeSettings(unicode)).empty()) << Describe(CheckSettings(EncodeSettings(unicode)));
}

// Windows reads only FF FE as Unicode: behind a UTF-8 mark the header of
// line 1 is lost, and FE FF holds no text at all. The checker says so; an
// edit drops the UTF-8 mark, saying so, and leaves FE FF alone.
TEST(SettingsText, MarksAreReadAsWindowsReadsThem)
{
    const string text = "[Settings]\r\nPort=COM3\r\n[Commands]\r\na=WINAMP,1\r\n";
    const string marked = "\xEF\xBB\xBF" + text;
    string found = Describe(CheckSettings(marked));
    EXPECT_NE(found.find("1: the section header [Settings] sits behind a UTF-8 byte-order mark"), string::npos) << found;
    EXPECT_NE(found.find("2: 'Port=COM3' is outside any section"), string::npos) << found;
    string bigEndian = "\xFE\xFF";
    for (char c : text) bigEndian += string(1, '\0') + c;
    found = Describe(CheckSettings(bigEndian));
    EXPECT_EQ(found.find("0: the file is UTF-16 big-endian"), 0u) << found;
    // Letters beyond ASCII written in UTF-8 with no mark are read as ANSI.
    const string music = "[Settings]\r\nPort=COM3\r\n[Commands]\r\nm=EXECUTE,C:\\M\xC3\xBCsik\\p.exe\r\n";
    EXPECT_NE(Describe(CheckSettings(music)).find("4: this line holds UTF-8 text"), string::npos);
    EXPECT_EQ(Describe(CheckSettings(InAnsi(music))).find("UTF-8"), string::npos);

    TempDir dir;
    const string path = dir.Win("quorvix.ini");
    auto port = [](const string& t, unsigned) { return WithPort(t, "COM42"); };
    string why, note;
    WriteBytes(path, marked);
    EXPECT_TRUE(EditSettingsFile(path, port, why, &note)) << why;
    EXPECT_EQ(ReadBytes(path), "[Settings]\r\nPort=COM42\r\n[Commands]\r\na=WINAMP,1\r\n");
    EXPECT_NE(note.find("byte-order mark was removed"), string::npos) << note;
    WriteBytes(path, bigEndian);
    EXPECT_FALSE(EditSettingsFile(path, port, why));
    EXPECT_NE(why.find("big-endian"), string::npos) << why;
    EXPECT_EQ(ReadBytes(path), bigEndian);
}

// Each key's name is its press line from the last ": " on without the final
// 1, unique among the keys seen; a form that allows none is said, not guessed.
TEST(KeyLearning, NamesEachNewKeyOnceAndSaysWhyItCannot)
{
    std::vector<LearnedKey> learned;
    const std::vector<string> table = {"+CKEV: 9"};
    const struct {
        const char* line;
        KeySeen seen;
        const char* detail;  // the name, or a piece of the reason
    } presses[] = {
        {"+CKEV: 1,1", KeySeen::New, ": 1,"},
        {"+CKEV: 5,1", KeySeen::New, ": 5,"},
        {"+CKEV: *,1", KeySeen::New, ": *,"},
        {"+CKEV: 5,1", KeySeen::Again, ": 5,"},
        {"+CKEV: 12,1", KeySeen::New, ": 12,"},
        {"+CKEV: 9,1", KeySeen::Mapped, "+CKEV: 9"},
        {"+CKEV: \"5\",1", KeySeen::Unlearnable, "quotes"},
        {"KEY 5,1", KeySeen::Unlearnable, "no ': '"},
        {"+CKEV: 5,1,0", KeySeen::Unlearnable, "does not end"},
        {"+CKEV: 1", KeySeen::Unlearnable, "does not end"},
        {"+CKEV: a=b,1", KeySeen::Unlearnable, "does not keep"},
        {"x: 5,: 2,1", KeySeen::Unlearnable, "each run at the other's press"},
    };
    for (const auto& p : presses) {
        SCOPED_TRACE(p.line);
        string detail;
        EXPECT_EQ(SeeKeyPress(p.line, table, learned, detail), p.seen);
        EXPECT_NE(detail.find(p.detail), string::npos) << detail;
    }
    ASSERT_EQ(learned.size(), 4u);
    // The lines it writes are ones the checker takes: a hint each, no warning.
    string text = "[Settings]\r\nPort=COM5\r\n[Commands]\r\n+CKEV: 9=WINAMP,1\r\n";
    for (const LearnedKey& k : learned) text += LearnedCommandsLine(k.name) + "\r\n";
    EXPECT_EQ(LearnedCommandsLine(": *,"), ": *,= ; key *: put a command here");
    const std::vector<Finding> found = CheckSettings(text);
    EXPECT_EQ(found.size(), 4u) << Describe(found);
    for (const Finding& f : found) EXPECT_TRUE(f.hint) << f.message;
}

// The settings file takes key names without case and loads only so many of
// them: the learning writes nothing it would read otherwise.
TEST(KeyLearning, ANameTheFileWouldTakeForAnotherOrNotLoadIsRefused)
{
    std::vector<LearnedKey> learned;
    const std::vector<string> table = {": E,"};
    const struct {
        const char* line;
        KeySeen seen;
        const char* detail;
    } presses[] = {
        {"+CKEV: e,1", KeySeen::Unlearnable, "differs only in case from ': E,'"},
        {"+CKEV: a,1", KeySeen::New, ": a,"},
        {"+CKEV: A,1", KeySeen::Unlearnable, "differs only in case from ': a,'"},
        {"+CKEV: a,1", KeySeen::Again, ": a,"},
        {"+CKEV: \xC4,1", KeySeen::Unlearnable, "does not keep"},
    };
    for (const auto& p : presses) {
        SCOPED_TRACE(p.line);
        string detail;
        EXPECT_EQ(SeeKeyPress(p.line, table, learned, detail), p.seen);
        EXPECT_NE(detail.find(p.detail), string::npos) << detail;
    }
    // A long name is learned; its placeholder still fits what is read of a value.
    const string longKey(300, 'k');
    string detail;
    EXPECT_EQ(SeeKeyPress("+CKEV: " + longKey + ",1", table, learned, detail), KeySeen::New) << detail;
    EXPECT_LE(LearnedCommandsLine(detail).size() - detail.size() - 1, VALUE_LIMIT);
    // Names that fill the list the program loads: the next one is refused.
    const std::vector<string> full(KEY_LIST_SIZE / 8 - 1, ": 1234,");
    EXPECT_EQ(SeeKeyPress("+CKEV: 99,1", full, learned, detail), KeySeen::Unlearnable);
    EXPECT_NE(detail.find("32767 bytes"), string::npos) << detail;
}

// UTF-8 as the ANSI code page (Windows' "Beta: Use Unicode UTF-8") holds
// every name; a one-byte code page holds only its own letters.
TEST(ProgramFolder, APathIsTakenInEveryCodePageThatHoldsIt)
{
    const wchar_t plain[] = L"C:\\q\\";
    const wchar_t russian[] = L"C:\\\x041C\x043E\x0438\\";
    const struct {
        UINT codePage;
        const wchar_t* path;
        bool held;
    } cases[] = {
        {CP_UTF8, plain, true}, {CP_UTF8, russian, true}, {1252, plain, true},
        {1252, russian, false}, {1251, russian, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        string out;
        EXPECT_EQ(ToCodePage(c.codePage, c.path, lstrlenW(c.path), out), c.held);
        if (c.held) {
            wchar_t back[32] = {};
            MultiByteToWideChar(c.codePage, 0, out.c_str(), static_cast<int>(out.size()), back, 31);
            EXPECT_STREQ(back, c.path);
        }
    }
}

// Program names compare as Windows compares file names, over the whole code
// page they are written in; with UTF-8 as the system's code page (which
// Wine cannot be given) the foreground name is still spelt and matched.
UINT WINAPI Utf8AsAnsi() { return CP_UTF8; }

TEST(ProgramFolder, ProgramNamesCompareAsFileNamesInEveryCodePage)
{
    EXPECT_TRUE(SameFileName("\xFC" "ber.exe", "\xDC" "BER.EXE", 1252));
    EXPECT_TRUE(SameFileName("\xC2\xF5\xEE\xE4.exe", "\xE2\xF5\xEE\xE4.EXE", 1251));
    EXPECT_FALSE(SameFileName("uber.exe", "\xFC" "ber.exe", 1252));
    EXPECT_FALSE(SameFileName("vlc.exe", "vlc.ex", 1252));
    AnsiCodePage = Utf8AsAnsi;
    string name;
    const bool spelt = ToCodePage(CP_ACP, L"\x00DC" L"ber.exe", 8, name);
    const bool same = SameFileName(name, "\xC3\xBC" "BER.EXE");
    AnsiCodePage = GetACP;
    EXPECT_TRUE(spelt);
    EXPECT_EQ(name, "\xC3\x9C" "ber.exe");
    EXPECT_TRUE(same);
}

// Closing the console window ends the process when the handler returns: it
// waits for the learned keys to be saved, and no longer.
TEST(ConsoleStop, ClosingTheWindowWaitsUntilTheWorkIsSaved)
{
    ASSERT_TRUE(WatchConsoleStop());
    struct Call {
        static DWORD WINAPI Run(void*) { return OnConsoleStop(CTRL_CLOSE_EVENT); }
    };
    HANDLE handler = CreateThread(nullptr, 0, Call::Run, nullptr, 0, nullptr);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(WaitForSingleObject(ConsoleStopEvent(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(handler, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    ConsoleWorkSaved();
    EXPECT_EQ(WaitForSingleObject(handler, 5000), WAIT_OBJECT_0);
    DWORD handled = 0;
    GetExitCodeThread(handler, &handled);
    EXPECT_EQ(handled, static_cast<DWORD>(TRUE));
    CloseHandle(handler);
}

// What a program started with an output file has written so far.
string OutputIn(const string& file)
{
    string s = ReadBytes(file);
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

struct Monitor : ::testing::Test {
    TempDir dir;
    string exe;
    void SetUp() override
    {
        exe = dir.Win("quorvix-monitor.exe");
        ASSERT_TRUE(CopyFileA((ModuleDir() + "\\..\\quorvix-monitor.exe").c_str(), exe.c_str(), FALSE));
    }
};

TEST_F(Monitor, PrintsEachLineWithTheKeysItWouldRunAndLeavesThePortFree)
{
    PtyPair pty(dir);
    ASSERT_TRUE(pty.Start());
    WriteBytes(dir.Win("quorvix.ini"),
               "[Settings]\r\nPort=COM9\r\nInitString=AT+CMER=3,1,0,0,0\r\n[Commands]\r\n"
               "+CKEV: 5=WINAMP,40046\r\n5,=VOLUME,1\r\n+CKEV: 6=KEYPRESS,11,43\r\n");
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(phone.Ok());
    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start("\"" + exe + "\" " + pty.pcPath, "", dir.Win("out.txt")));
    // The same init string as the program's own.
    EXPECT_EQ(phone.ReadAtLeast(21, 10000), "AT+CMER=3,1,0,0,0\r\n\r\n");

    phone.Write("\r\nOK\r\n\r\n+CKEV: 5,1\r\n\r\n+CKEV: 5,0\r\n+CKEV: 7,1\r\n+CKEV: 6,");
    Sleep(50);
    phone.Write("1\r\n");
    ASSERT_TRUE(WaitFor([&] { return OutputIn(dir.Win("out.txt")).find("+CKEV: 6,1") != string::npos; }, 10000))
        << OutputIn(dir.Win("out.txt"));
    Sleep(300);
    const string out = OutputIn(dir.Win("out.txt"));
    EXPECT_NE(out.find("Listening on " + pty.pcPath + " (3 keys from "), string::npos) << out;
    const char* const expected[] = {
        "  OK\n",
        "  +CKEV: 5,1   [press]\n    runs +CKEV: 5 = WINAMP,40046\n    runs 5, = VOLUME,1\n",
        "  +CKEV: 5,0   [release]\n",
        "  +CKEV: 7,1   [press]\n    no Commands key matches this line\n",
        "  +CKEV: 6,1   [press]\n    runs +CKEV: 6 = KEYPRESS,11,43\n",
    };
    size_t at = 0;
    for (const char* e : expected) {
        const size_t found = out.find(e, at);
        EXPECT_NE(found, string::npos) << "missing in order: " << e << "\n" << out;
        if (found != string::npos) at = found;
    }

    // Ctrl+C in the terminal that runs it: Wine turns SIGINT into CTRL_C_EVENT.
    // Started by a program, it has no terminal for a Ctrl+C (the next test
    // has one); ended from outside here.
    TerminateProcess(monitor.pi.hProcess, 0);
    EXPECT_EQ(monitor.ExitCode(10000), 0);
    // The port is free again: the program could open it now.
    HANDLE again = CreateFileA(pty.pcPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

// What a terminal showed, without the console's cursor sequences.
string TerminalText(const string& raw)
{
    string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
            i += 2;
            const size_t from = i;
            while (i < raw.size() && !std::isalpha(static_cast<unsigned char>(raw[i]))) ++i;
            // Wine's console moves the cursor forward rather than print blanks.
            if (i < raw.size() && raw[i] == 'C') text.append(std::max(1, std::atoi(raw.c_str() + from)), ' ');
            continue;
        }
        if (raw[i] != '\r') text += raw[i];
    }
    return text;
}

// Ctrl+C as a user gives it: typed into the terminal the monitor runs in
// (Wine turns it into CTRL_C_EVENT only for a program on a terminal). A
// background shell ignores SIGINT in what it starts; timeout restores it.
// script runs the command with $SHELL, fixed here to dash as on a bare
// machine; that shell gets the ^C too and dies of it unless it traps it, and
// then the monitor's exit code is never shown.
// With the test-only modem-line shim preloaded Wine delivers no Ctrl+C, so
// this run goes without it (the monitor's waits then wake every millisecond).
// The monitor in a terminal of its own, as a user runs it: a typed Ctrl+C
// reaches it, and the shell around it shows its exit code as EXIT=n.
struct TerminalMonitor {
    string unixDir, log;
    // args: the monitor's own, ports in their Windows form.
    bool Start(const TempDir& dir, const string& args, bool modemShim)
    {
        unixDir = dir.unixPath;
        log = dir.Win("term.log");
        string wineRun = ModuleDir().substr(2) + "\\..\\wine-run";
        std::replace(wineRun.begin(), wineRun.end(), '\\', '/');
        string unixArgs = args;
        std::replace(unixArgs.begin(), unixArgs.end(), '\\', '/');
        // The terminal's own tools run without the preload; Wine gets it back
        // through wine-run unless told otherwise.
        const string monitor =
            string("env -u LD_PRELOAD ") + (modemShim ? "" : "QUORVIX_NO_MODEM_SHIM=1 ") + wineRun;
        return RunUnix("cd " + unixDir + " && : > ctl && setsid sh -c 'tail -f " + unixDir +
                       "/ctl | SHELL=/bin/sh timeout 120 " +
                       "script -qfc \"trap : INT; " + monitor + " " + unixDir + "/quorvix-monitor.exe " +
                       unixArgs + "; echo EXIT=\\$?\" term.log' >/dev/null 2>&1 &") == 0;
    }
    string Text() const { return TerminalText(ReadBytes(log)); }
    bool Shows(const string& what, DWORD timeoutMs) const
    {
        return WaitFor([&] { return Text().find(what) != string::npos; }, timeoutMs);
    }
    // Types Ctrl+C; what the terminal showed after it once the monitor ended.
    string CtrlC() const
    {
        RunUnix("printf '\\003' >> " + unixDir + "/ctl");
        // What follows the typed ^C (the log's header quotes the command too).
        auto after = [&] {
            const string text = Text();
            const size_t at = text.find("^C");
            return at == string::npos ? string() : text.substr(at);
        };
        WaitFor([&] { return after().find("EXIT=") != string::npos; }, 10000);
        return after();
    }
    // This terminal's feed alone: tests in parallel have terminals of their own.
    ~TerminalMonitor() { RunUnix("pkill -f '[t]ail -f " + unixDir + "/ctl'; true"); }
};

TEST_F(Monitor, EndsOnCtrlCInItsTerminalAndClosesThePort)
{
    PtyPair pty(dir);
    ASSERT_TRUE(pty.Start());
    WriteBytes(dir.Win("quorvix.ini"), "[Commands]\r\n+CKEV: 5=WINAMP,40046\r\n");
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(phone.Ok());
    TerminalMonitor monitor;
    ASSERT_TRUE(monitor.Start(dir, pty.pcPath, false));
    EXPECT_EQ(phone.ReadAtLeast(20, 20000).size(), 20u);
    phone.Write("+CKEV: 5,1\r\n");
    EXPECT_TRUE(monitor.Shows("WINAMP,40046", 10000)) << monitor.Text();
    const string shown = monitor.CtrlC();
    EXPECT_NE(shown.find("Closed"), string::npos) << shown;
    EXPECT_NE(shown.find("EXIT=0"), string::npos) << shown;
    HANDLE again = CreateFileA(pty.pcPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

// The phone's device goes away (the Bluetooth link drops) and comes back:
// said at once, without spinning, picked up again; a session that ends
// while it is gone is no success.
TEST_F(Monitor, SaysWhenThePortStopsAnsweringAndPicksItUpAgain)
{
    PtyPair pty(dir);
    ASSERT_TRUE(pty.Start());
    WriteBytes(dir.Win("quorvix.ini"), "[Commands]\r\n+CKEV: 5=WINAMP,40046\r\n");
    TerminalMonitor monitor;
    {
        PhoneEnd phone(pty.phonePath);
        ASSERT_TRUE(monitor.Start(dir, pty.pcPath, true));
        ASSERT_EQ(phone.ReadAtLeast(20, 20000).size(), 20u);
    }
    pty.Stop();
    ASSERT_TRUE(monitor.Shows("stopped answering", 5000)) << monitor.Text();
    const int pid = UnixPidOf(dir.unixPath.substr(dir.unixPath.rfind('/') + 1), "quorvix-monitor.exe");
    const double before = LinuxCpuSeconds(pid);
    Sleep(3000);
    const double used = LinuxCpuSeconds(pid) - before;
    EXPECT_GE(before, 0.0) << "no CPU figure for the monitor";
    EXPECT_LT(used, 0.3) << "a tenth of a core is 0.3 s in 3 s";

    ASSERT_TRUE(pty.Start());
    PhoneEnd phone(pty.phonePath);
    EXPECT_EQ(phone.ReadAtLeast(20, 10000).size(), 20u);
    EXPECT_TRUE(monitor.Shows("is back", 5000)) << monitor.Text();
    phone.Write("+CKEV: 5,1\r\n");
    EXPECT_TRUE(monitor.Shows("WINAMP,40046", 10000)) << monitor.Text();

    pty.Stop();
    EXPECT_TRUE(WaitFor([&] {
        const string now = monitor.Text();
        return now.find("stopped answering", now.find("is back")) != string::npos;
    }, 5000)) << monitor.Text();
    const string shown = monitor.CtrlC();
    EXPECT_NE(shown.find("was not back"), string::npos) << monitor.Text();
    EXPECT_NE(shown.find("EXIT=2"), string::npos) << shown;
}

TEST_F(Monitor, AMissingPortIsNamedWithTheSystemsReasonAndExitCode2)
{
    ChildProcess monitor;
    const string port = dir.Win("no-such-port");
    ASSERT_TRUE(monitor.Start("\"" + exe + "\" " + port, "", dir.Win("out.txt")));
    EXPECT_EQ(monitor.ExitCode(10000), 2);
    const string out = OutputIn(dir.Win("out.txt"));
    EXPECT_NE(out.find("Cannot open " + port + ": "), string::npos) << out;
    // The system's own text follows, not a bare number.
    EXPECT_EQ(out.find("system error"), string::npos) << out;
}

// A pty pair whose far end answers each command line it gets, mapped as a
// COM port of the test's prefix (as Windows maps a Bluetooth port).
struct AnsweringPort {
    PtyPair pty;
    string name;
    string heard, pending;
    string (*answer)(const string& command);
    std::unique_ptr<PhoneEnd> end;
    AnsweringPort(const TempDir& dir, const string& device, string (*how)(const string&))
        : pty(dir, device), name(device), answer(how)
    {
    }
    AnsweringPort(const TempDir& dir, int com, string (*how)(const string&))
        : AnsweringPort(dir, "COM" + std::to_string(com), how)
    {
    }
    bool Start()
    {
        if (!pty.Start() || !MapPortName(name, pty.pcUnix)) return false;
        end.reset(new PhoneEnd(pty.phonePath));
        return end->Ok();
    }
    // Takes what came and answers each complete line.
    void Serve()
    {
        const string got = end->ReadFor(0);
        heard += got;
        pending += got;
        for (size_t eol; (eol = pending.find_first_of("\r\n")) != string::npos;) {
            const string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!line.empty()) end->Write(answer(line));
        }
    }
    ~AnsweringPort() { UnmapPortName(name); }
};

string Silent(const string&) { return ""; }
// With echo on, as phones start: each command comes back before its answer.
string Phone(const string& command) { return command + "\r\r\nOK\r\n"; }
string Garbage(const string&) { return "\r\n#$%junk\r\n"; }
string Modem(const string& command) { return command.compare(0, 7, "AT+CMER") == 0 ? "\r\nERROR\r\n" : "\r\nOK\r\n"; }

// Ports that would mislead a user: one silent, one a modem that refuses key
// reporting, one that answers garbage, one busy; the phone is named among
// them, and only its port goes into the settings file, or into a new one
// made from the example where there was none.
TEST_F(Monitor, FindsThePhoneAmongThePortsAndWritesOnlyItsPort)
{
    AnsweringPort silent(dir, 31, Silent), phone(dir, 32, Phone), modem(dir, 33, Modem), junk(dir, 35, Garbage),
        second(dir, 36, Phone);
    const std::vector<AnsweringPort*> ports = {&silent, &phone, &modem, &junk, &second};
    for (AnsweringPort* port : ports) ASSERT_TRUE(port->Start());
    // Wine lets a second program open a serial device that one has open; a
    // folder gives the "access denied" Windows gives for a port in use.
    ASSERT_EQ(RunUnix("mkdir -p " + dir.Unix("in-use")), 0);
    ASSERT_TRUE(MapComPort(34, dir.Unix("in-use")));
    const string settings = "; my phone\r\n[Settings]\r\n; its port\r\nPort=COM1\r\nPingInterval=5000\r\n"
                            "\r\n[Commands]\r\n: 5,=WINAMP,40046 ; pause\r\n";
    WriteBytes(dir.Win("quorvix.ini"), settings);

    // Runs the search to its end, serving the ports meanwhile; its output.
    auto find = [&](DWORD& took, const char* all) {
        ChildProcess monitor;
        const DWORD start = GetTickCount();
        EXPECT_TRUE(monitor.Start("\"" + exe + "\" --find --write" + all, "", dir.Win("out.txt")));
        WaitFor([&] {
            for (AnsweringPort* port : ports) port->Serve();
            return WaitForSingleObject(monitor.pi.hProcess, 0) == WAIT_OBJECT_0;
        }, 120000);
        took = GetTickCount() - start;
        EXPECT_EQ(monitor.ExitCode(1000), 0u);
        return OutputIn(dir.Win("out.txt"));
    };
    DWORD took = 0;
    const string out = find(took, " --all");
    std::printf("%s(took %.1f s)\n", out.c_str(), took / 1000.0);
    EXPECT_NE(out.find("COM31: no answer to AT\n"), string::npos) << out;
    EXPECT_NE(out.find("COM32: a phone: answered AT and accepted key reporting (ATZ, AT+CMER=3,2)\n"), string::npos) << out;
    EXPECT_NE(out.find("COM33: answered AT, but refused AT+CMER=3,2 (ERROR)\n"), string::npos) << out;
    EXPECT_NE(out.find("COM34: busy"), string::npos) << out;
    EXPECT_NE(out.find("COM35: answered AT with '#$%junk', not OK"), string::npos) << out;
    EXPECT_NE(out.find("Use COM32: the phone answered there and accepted key reporting; so did COM36."),
              string::npos) << out;
    // Nothing but AT went to the ports that did not answer it with OK.
    EXPECT_EQ(silent.heard, "AT\r\n");
    EXPECT_EQ(junk.heard, "AT\r\n");
    EXPECT_EQ(modem.heard, "AT\r\nATZ\r\nAT+CMER=3,2\r\n");
    string expected = settings;
    expected.replace(expected.find("Port=COM1"), 9, "Port=COM32");
    EXPECT_EQ(ReadBytes(dir.Win("quorvix.ini")), expected);
    // Each port had its few seconds, not more: generous for a slow machine.
    EXPECT_LT(took, 60000u);

    // Without --all the search ends at the phone: the ports after it hear nothing.
    ASSERT_TRUE(DeleteFileA(dir.Win("quorvix.ini").c_str()));
    const string modemHeard = modem.heard, secondHeard = second.heard;
    const string alone = find(took, "");
    EXPECT_EQ(alone.find("COM33"), string::npos) << alone;
    EXPECT_EQ(modem.heard, modemHeard);
    EXPECT_EQ(second.heard, secondHeard);
    const string made = ReadBytes(dir.Win("quorvix.ini"));
    EXPECT_NE(made.find("[Settings]\r\n; The serial port of the phone"), string::npos) << made;
    EXPECT_NE(made.find("\r\nPort=COM32\r\n"), string::npos) << made;
    EXPECT_EQ(made.find("Port=COM1"), string::npos) << made;
    UnmapComPort(34);
}

// Each silent port costs its answer's wait: Ctrl+C ends the search in the
// middle of one, with nothing written.
TEST_F(Monitor, CtrlCEndsTheSearchWhileAPortIsAsked)
{
    AnsweringPort first(dir, 41, Silent), second(dir, 42, Silent);
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    const string settings = "[Settings]\r\nPort=COM1\r\n[Commands]\r\na=WINAMP,1\r\n";
    WriteBytes(dir.Win("quorvix.ini"), settings);
    TerminalMonitor monitor;
    ASSERT_TRUE(monitor.Start(dir, "--find --write", false));
    // COM41 has heard AT and waits for its answer.
    ASSERT_TRUE(WaitFor([&] { return first.end->ReadFor(0).find("AT") != string::npos; }, 30000))
        << monitor.Text();
    const string shown = monitor.CtrlC();
    EXPECT_NE(shown.find("Stopped while asking COM41. Nothing written."), string::npos) << monitor.Text();
    EXPECT_NE(shown.find("EXIT=2"), string::npos) << shown;
    EXPECT_EQ(monitor.Text().find("COM41:"), string::npos) << monitor.Text();
    EXPECT_EQ(second.end->ReadFor(500), "");
    EXPECT_EQ(ReadBytes(dir.Win("quorvix.ini")), settings);
}

// The system's list of serial devices: its Bluetooth ports are asked first,
// each by the name up to its first character that is not a letter or digit.
TEST_F(Monitor, BluetoothPortsComeFirstByTheirCleanNames)
{
    EXPECT_EQ(DeviceName("COM13\x01junk"), "COM13");
    EXPECT_EQ(DeviceName(" CNCA0 "), "CNCA0");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    const char plain[] = "CNCA0";
    const char bluetooth[] = "COM77\x01\x02";
    RegSetValueExA(key, "\\Device\\Serial9", 0, REG_SZ, reinterpret_cast<const BYTE*>(plain), sizeof plain);
    RegSetValueExA(key, "\\Device\\BthModem9", 0, REG_SZ, reinterpret_cast<const BYTE*>(bluetooth), sizeof bluetooth);
    size_t listed = 0;
    const std::vector<string> ports = PortsToAsk(listed);
    RegDeleteValueA(key, "\\Device\\Serial9");
    RegDeleteValueA(key, "\\Device\\BthModem9");
    RegCloseKey(key);
    ASSERT_GE(listed, 2u);
    EXPECT_EQ(ports[0], "COM77");
    const auto cnca = std::find(ports.begin(), ports.begin() + static_cast<long>(listed), "CNCA0");
    EXPECT_NE(cnca, ports.begin() + static_cast<long>(listed));
    EXPECT_EQ(std::count(ports.begin(), ports.end(), "COM77"), 1);
}

// --for takes the program's name as typed into a file of any encoding: in a
// Unicode file its letters stay whole (not U+FFFD); a key that [Commands]
// maps gets no placeholder.
TEST(KeyLearning, AProgramsNameGoesIntoAUnicodeFileAsTyped)
{
    TempDir dir;
    const string path = dir.Win("quorvix.ini");
    SettingsText file;
    file.encoding = SettingsEncoding::Utf16LE;
    file.text = "[Settings]\r\nPort=COM9\r\n[Commands]\r\n: 9,=WINAMP,40046\r\n";
    WriteBytes(path, EncodeSettings(file));
    const Settings settings = LoadSettingsFrom(path);
    LearnInto("Commands:\xDC" "ber.exe", "Commands:\xC3\x9C" "ber.exe");
    LearnLine(settings, "+CKEV: 9,1");
    LearnLine(settings, "+CKEV: 5,1");
    EXPECT_EQ(FinishLearning(settings, true, 0), 0);
    const SettingsText written = DecodeSettings(ReadBytes(path));
    EXPECT_EQ(written.encoding, SettingsEncoding::Utf16LE);
    EXPECT_EQ(written.text, file.text + "[Commands:\xC3\x9C" "ber.exe]\r\n: 5,= ; key 5: put a command here\r\n");
}

// A phone on a port the system lists by another name than COMn (a com0com
// pair's CNCA0): the name --find --write writes is one the program opens.
TEST_F(Monitor, APortNameTheSearchWritesIsOneTheProgramOpens)
{
    AnsweringPort phone(dir, "CNCA0", Phone);
    ASSERT_TRUE(phone.Start());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    const char device[] = "CNCA0";
    RegSetValueExA(key, "\\Device\\com0com10", 0, REG_SZ, reinterpret_cast<const BYTE*>(device), sizeof device);
    WriteBytes(dir.Win("quorvix.ini"), "[Settings]\r\nPort=COM1\r\n[Commands]\r\na=WINAMP,1\r\n");
    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start("\"" + exe + "\" --find --write", "", dir.Win("out.txt")));
    WaitFor([&] {
        phone.Serve();
        return WaitForSingleObject(monitor.pi.hProcess, 0) == WAIT_OBJECT_0;
    }, 60000);
    RegDeleteValueA(key, "\\Device\\com0com10");
    RegCloseKey(key);
    EXPECT_EQ(monitor.ExitCode(1000), 0u) << OutputIn(dir.Win("out.txt"));
    const Settings written = LoadSettingsFrom(dir.Win("quorvix.ini"));
    ASSERT_EQ(written.PortName, "CNCA0");
    // The program's own open, with the name as written.
    const HANDLE port = CreatePortHandle(written.PortName);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    phone.end->ReadFor(300);
    EXPECT_TRUE(SendLineBounded(port, "AT"));
    CloseHandle(port);
    EXPECT_EQ(phone.end->ReadAtLeast(4, 5000), "AT\r\n");
}

// Keys 1, 5, * and 5 again: three names learned, three lines appended, the
// mapped key shown with its command; the checker takes the file.
TEST_F(Monitor, LearnsEachNewKeysNameAndAppendsItsLine)
{
    PtyPair pty(dir);
    ASSERT_TRUE(pty.Start());
    const string settings = "[Settings]\r\n; the phone\r\nPort=COM9\r\n\r\n[Commands]\r\n: 9,=WINAMP,40046\r\n"
                            "\r\n; the end\r\n";
    WriteBytes(dir.Win("quorvix.ini"), settings);
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(phone.Ok());
    TerminalMonitor monitor;
    ASSERT_TRUE(monitor.Start(dir, "--learn --write " + pty.pcPath, false));
    EXPECT_EQ(phone.ReadAtLeast(20, 20000).size(), 20u);
    for (const char* key : {"1", "9", "5", "*", "5"})
        phone.Write(string("+CKEV: ") + key + ",1\r\n+CKEV: " + key + ",0\r\n");
    EXPECT_TRUE(monitor.Shows(": 5, again", 10000)) << monitor.Text();
    EXPECT_TRUE(monitor.Shows("key : 9, already runs WINAMP,40046", 1000)) << monitor.Text();
    const string shown = monitor.CtrlC();
    EXPECT_NE(shown.find("EXIT=0"), string::npos) << shown;
    const string lines = ": 1,= ; key 1: put a command here\r\n: 5,= ; key 5: put a command here\r\n"
                         ": *,= ; key *: put a command here\r\n";
    // After the section's last line, the comment that ends it.
    EXPECT_EQ(ReadBytes(dir.Win("quorvix.ini")), settings + lines);

    const string check = dir.Win("quorvix-check.exe");
    ASSERT_TRUE(CopyFileA((ModuleDir() + "\\..\\quorvix-check.exe").c_str(), check.c_str(), FALSE));
    string out;
    EXPECT_EQ(RunProgram("\"" + check + "\"", 30000, &out), 0) << out;
    EXPECT_NE(out.find("hint: key ': *,': no command yet"), string::npos) << out;

    // For one program: a key [Commands] maps keeps its meaning there (a
    // placeholder would switch it off); a key it lacks is learned.
    TerminalMonitor forOne;
    ASSERT_TRUE(forOne.Start(dir, "--learn --write --for VLC.EXE " + pty.pcPath, false));
    EXPECT_EQ(phone.ReadAtLeast(20, 20000).size(), 20u);
    phone.Write("+CKEV: 9,1\r\n+CKEV: 9,0\r\n+CKEV: 7,1\r\n+CKEV: 7,0\r\n");
    EXPECT_TRUE(forOne.Shows("new key : 7,", 10000)) << forOne.Text();
    EXPECT_TRUE(forOne.Shows("key : 9, runs WINAMP,40046 from [Commands]", 1000)) << forOne.Text();
    EXPECT_NE(forOne.CtrlC().find("EXIT=0"), string::npos) << forOne.Text();
    EXPECT_EQ(ReadBytes(dir.Win("quorvix.ini")),
              settings + lines + "[Commands:VLC.EXE]\r\n: 7,= ; key 7: put a command here\r\n");
}

} // namespace
