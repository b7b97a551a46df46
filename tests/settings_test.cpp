// The settings file through the real GetPrivateProfileStringA: where it is
// found, what defaults apply, and that nothing in it can overflow a buffer.
#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "keys/command_choice.h"
#include "settings/ini_file.h"
#include "util/program_folder.h"
#include "util/program_folder_testing.h"
#include "test_support.h"

namespace {

using std::string;

struct IniFiles : ::testing::Test {
    TempDir dir;
    string Ini(const string& text)
    {
        const string path = dir.Win("test.ini");
        WriteBytes(path, text);
        return path;
    }
};

TEST_F(IniFiles, CommandTableHoldsKeyNamesInFileOrder)
{
    const string path = Ini("[Settings]\r\nPort=COM3\r\n[Commands]\r\n"
                            "+CKEV: 5=WINAMP,40045\r\nzeta=VOLUME,1\r\nalpha=VOLUME,-1\r\n");
    const std::vector<string> table = LoadSettingsFrom(path).CommandTable;
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], "+CKEV: 5");
    EXPECT_EQ(table[1], "zeta");
    EXPECT_EQ(table[2], "alpha");
    EXPECT_EQ(ReadIniString("Commands", "zeta", "", path), "VOLUME,1");
}

TEST_F(IniFiles, MissingFileSectionOrKeysGiveAnEmptyTableAndDefaults)
{
    EXPECT_TRUE(LoadKeyNames("Commands", dir.Win("absent.ini")).empty());
    EXPECT_EQ(ReadIniString("Settings", "Port", "COM1", dir.Win("absent.ini")), "COM1");

    const string noSection = Ini("[Settings]\r\nPort=COM2\r\n");
    EXPECT_TRUE(LoadKeyNames("Commands", noSection).empty());
    EXPECT_EQ(ReadIniString("Commands", "x", "", noSection), "");

    const string emptySection = Ini("[Commands]\r\n[Settings]\r\nPort=COM2\r\n");
    EXPECT_TRUE(LoadKeyNames("Commands", emptySection).empty());
}

TEST_F(IniFiles, LoadingTwiceKeepsOnlyTheSecondLoad)
{
    CurrentSettings = LoadSettingsFrom(Ini("[Commands]\r\na=1\r\nb=2\r\n"));
    ASSERT_EQ(CurrentSettings.CommandTable.size(), 2u);
    CurrentSettings = LoadSettingsFrom(Ini("[Commands]\r\nc=3\r\n"));
    ASSERT_EQ(CurrentSettings.CommandTable.size(), 1u);
    EXPECT_EQ(CurrentSettings.CommandTable[0], "c");
}

TEST_F(IniFiles, ValuesAreCutTo255Characters)
{
    const string path = Ini("[Commands]\r\nlong=" + string(300, 'v') + "\r\nhuge=" +
                            string(10000, 'w') + "\r\n");
    EXPECT_EQ(ReadIniString("Commands", "long", "", path), string(255, 'v'));
    EXPECT_EQ(ReadIniString("Commands", "huge", "", path), string(255, 'w'));
    EXPECT_EQ(ReadIniString("Commands", "missing", string(400, 'd'), path), string(255, 'd'));
}

TEST_F(IniFiles, BinaryBytesInValuesArriveUnchanged)
{
    const string value = "KEYPRESS,\x01\x7F\x80\xFF\xE9";
    const string path = Ini("[Commands]\r\nbin=" + value + "\r\n");
    EXPECT_EQ(ReadIniString("Commands", "bin", "", path), value);
}

TEST_F(IniFiles, OnlyTheNamesThatFitIn32767BytesAreLoaded)
{
    // 5000 names of 10 bytes each (with their zero) need 50000 bytes.
    string text = "[Commands]\r\n";
    for (int i = 0; i < 5000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "key%06d", i);
        text += string(name) + "=WINAMP," + std::to_string(i) + "\r\n";
    }
    const std::vector<string> CommandTable = LoadKeyNames("Commands", Ini(text));
    ASSERT_GT(CommandTable.size(), 3000u);
    ASSERT_LE(CommandTable.size(), 3277u);
    for (size_t i = 0; i < CommandTable.size(); ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "key%06u", static_cast<unsigned>(i));
        if (CommandTable[i] != name) {
            // Only the very last name may be a cut-off piece.
            EXPECT_EQ(i, CommandTable.size() - 1);
            EXPECT_EQ(string(name).compare(0, CommandTable[i].size(), CommandTable[i]), 0);
        }
    }
}

// What a settings file gives, field by field: the defaults for what it
// lacks, the lenient numbers, values cut to what the profile calls return.
TEST_F(IniFiles, SettingsLoadAsTheFileSaysWithDefaultsForTheRest)
{
    const string garbage = [] {
        string g;
        for (int i = 0; i < 2000; ++i) g += static_cast<char>((i * 37 + 11) % 256);
        return g;
    }();
    const struct {
        const char* what;
        string text;  // "" for no file at all
        string port;
        int32_t ping;
        int32_t waitPort;
        const char* keys;  // the command table joined by spaces; null: not looked at
    } cases[] = {
        {"missing file", "", "COM1", 10000, 25000, ""},
        {"only [Commands]", "[Commands]\r\n1=VOLUME,1\r\n", "COM1", 10000, 25000, "1"},
        {"empty values", "[Settings]\r\nPort=\r\nPingInterval=\r\n", "", 10000, 25000, ""},
        {"every key", "[Settings]\r\nPort=COM4\r\nPingInterval=5000\r\nWaitPortTimeout=30000\r\n"
                      "[Commands]\r\na=WINAMP,1\r\n", "COM4", 5000, 30000, "a"},
        {"ping 3000", "[Settings]\r\nPingInterval=3000\r\n", "COM1", 3000, 25000, ""},
        {"ping 3 000", "[Settings]\r\nPingInterval=3 000\r\n", "COM1", 3, 25000, ""},
        {"ping 2500ms", "[Settings]\r\nPingInterval=2500ms\r\n", "COM1", 2500, 25000, ""},
        // No usable period: the default, not a flood (0) or silence (below 0).
        {"ping abc", "[Settings]\r\nPingInterval=abc\r\n", "COM1", 10000, 25000, ""},
        {"ping 0", "[Settings]\r\nPingInterval=0\r\n", "COM1", 10000, 25000, ""},
        {"ping -5", "[Settings]\r\nPingInterval=-5\r\n", "COM1", 10000, 25000, ""},
        {"long lines and binary garbage",
         "[Settings]\r\nPort=" + string(10000, 'P') + "\r\n[Commands]\r\n" + string(10000, 'k') +
             "=x\r\n" + garbage + "\r\nlast=WINAMP,1\r\n",
         string(255, 'P'), 10000, 25000, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const string path = c.text.empty() ? dir.Win("absent.ini") : Ini(c.text);
        const Settings s = LoadSettingsFrom(path);
        EXPECT_EQ(s.IniPath, path);
        EXPECT_EQ(s.PortName, c.port);
        EXPECT_EQ(s.PingInterval, c.ping);
        EXPECT_EQ(s.WaitPortTimeout, c.waitPort);
        string keys;
        for (const string& key : s.CommandTable) keys += (keys.empty() ? "" : " ") + key;
        if (c.keys) {
            EXPECT_EQ(keys, c.keys);
        }
    }
}

// Which commands a press runs for each foreground program: the program's
// own keys when it names one of them, else those of [Commands]; sections
// that name no file, or a program a second time, are never read.
TEST_F(IniFiles, APressRunsTheForegroundProgramsOwnKeysElseThoseOfCommands)
{
    const Settings s = LoadSettingsFrom(Ini(
        "[Commands]\r\n: 5,=WINAMP,5\r\n: 6,=WINAMP,6\r\n"
        "[Commands:alpha.exe]\r\n: 5,=WINAMP,105\r\n: 7,=WINAMP,107\r\n7,=WINAMP,100\r\n"
        "[Commands: BETA.EXE ]\r\n: 6,=WINAMP,206\r\n"
        "[Commands:Alpha.exe]\r\n: 6,=WINAMP,999\r\n[Commands:C:\\x\\gamma.exe]\r\n"
        ": 5,=WINAMP,999\r\n[Commands:*.exe]\r\n: 5,=WINAMP,999\r\n"
        "[Commands:\xDC" "BER.EXE]\r\n: 5,=WINAMP,305\r\n"));
    const struct {
        const char* program;  // "" when the lookup failed
        const char* line;
        const char* runs;
    } cases[] = {
        {"ALPHA.EXE", "+CKEV: 5,1", "WINAMP,105"},
        {"alpha.exe", "+CKEV: 6,1", "WINAMP,6"},
        {"alpha.exe", "+CKEV: 7,1", "WINAMP,107 WINAMP,100"},
        {"beta.exe", "+CKEV: 6,1", "WINAMP,206"},
        {"beta.exe", "+CKEV: 5,1", "WINAMP,5"},
        {"gamma.exe", "+CKEV: 5,1", "WINAMP,5"},
        // Without case beyond a-z too, as Windows compares file names (1252 here).
        {"\xFC" "ber.exe", "+CKEV: 5,1", "WINAMP,305"},
        {"", "+CKEV: 5,1", "WINAMP,5"},
        {"x.exe", "+CKEV: 8,1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(string(c.program) + " " + c.line);
        string runs;
        for (const ChosenCommand& chosen : CommandsForPress(c.line, s, c.program))
            runs += (runs.empty() ? "" : " ") + ReadIniString(chosen.Section, chosen.Key, "", s.IniPath);
        EXPECT_EQ(runs, c.runs);
    }

    string many = "[Commands]\r\na=WINAMP,1\r\n";
    for (int i = 0; i < 300; ++i)
        many += "[Commands:p" + std::to_string(i) + ".exe]\r\nb=WINAMP,2\r\n";
    const Settings crowded = LoadSettingsFrom(Ini(many));
    ASSERT_EQ(crowded.ProgramSections.size(), PROGRAM_SECTION_LIMIT);
    EXPECT_EQ(crowded.ProgramSections.back().Program, "p255.exe");
}

TEST(SettingsPath, LastFourCharactersAreReplaced)
{
    EXPECT_EQ(SettingsPathFor("C:\\Tools\\Remote.exe"), "C:\\Tools\\Remote.ini");
    EXPECT_EQ(SettingsPathFor("D:\\bin\\phone.EXE"), "D:\\bin\\phone.ini");
    EXPECT_EQ(SettingsPathFor("C:\\x\\prog"), "C:\\x\\.ini");
    EXPECT_EQ(SettingsPathFor("ab"), ".ini");
}

} // namespace
