// The settings file through the real GetPrivateProfileStringA: where it is
// found, what defaults apply, and that nothing in it can overflow a buffer.
#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "keys/keys.h"
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
    LoadCommandSection("Commands", path);
    ASSERT_EQ(CommandTable.size(), 3u);
    EXPECT_EQ(CommandTable[0], "+CKEV: 5");
    EXPECT_EQ(CommandTable[1], "zeta");
    EXPECT_EQ(CommandTable[2], "alpha");
    EXPECT_EQ(ReadIniString("Commands", "zeta", "", path), "VOLUME,1");
}

TEST_F(IniFiles, MissingFileSectionOrKeysGiveAnEmptyTableAndDefaults)
{
    LoadCommandSection("Commands", dir.Win("absent.ini"));
    EXPECT_TRUE(CommandTable.empty());
    EXPECT_EQ(ReadIniString("Settings", "Port", "COM1", dir.Win("absent.ini")), "COM1");

    const string noSection = Ini("[Settings]\r\nPort=COM2\r\n");
    LoadCommandSection("Commands", noSection);
    EXPECT_TRUE(CommandTable.empty());
    EXPECT_EQ(ReadIniString("Commands", "x", "", noSection), "");

    const string emptySection = Ini("[Commands]\r\n[Settings]\r\nPort=COM2\r\n");
    LoadCommandSection("Commands", emptySection);
    EXPECT_TRUE(CommandTable.empty());
}

TEST_F(IniFiles, LoadingTwiceKeepsOnlyTheSecondLoad)
{
    LoadCommandSection("Commands", Ini("[Commands]\r\na=1\r\nb=2\r\n"));
    ASSERT_EQ(CommandTable.size(), 2u);
    LoadCommandSection("Commands", Ini("[Commands]\r\nc=3\r\n"));
    ASSERT_EQ(CommandTable.size(), 1u);
    EXPECT_EQ(CommandTable[0], "c");
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
    LoadCommandSection("Commands", Ini(text));
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

// LoadSettings finds its file from the module name, so it is observed
// through a copy of a small probe program.
struct SettingsBesideProgram : ::testing::Test {
    TempDir dir;
    string Run(const string& exeName, const string* ini)
    {
        const string exe = dir.Win(exeName);
        if (!CopyFileA((ModuleDir() + "\\settings_probe.exe").c_str(), exe.c_str(), FALSE))
            return "copy failed";
        if (ini) WriteBytes(exe.substr(0, exe.size() - 4) + ".ini", *ini);
        string out;
        EXPECT_EQ(RunProgram("\"" + exe + "\"", 30000, &out), 0);
        return out;
    }
};

TEST_F(SettingsBesideProgram, TheFileBearsTheProgramsOwnName)
{
    const string ini = "[Settings]\r\nPort=COM9\r\n";
    const string out = Run("phone.exe", &ini);
    EXPECT_NE(out.find("IniPath=" + dir.Win("phone.ini") + "\n"), string::npos) << out;
    EXPECT_NE(out.find("Port=[COM9]"), string::npos) << out;
}

TEST_F(SettingsBesideProgram, MissingFileGivesDefaults)
{
    const string out = Run("remote.exe", nullptr);
    EXPECT_NE(out.find("IniPath=" + dir.Win("remote.ini")), string::npos) << out;
    EXPECT_NE(out.find("Port=[COM1]"), string::npos) << out;
    EXPECT_NE(out.find("PingInterval=10000"), string::npos) << out;
    EXPECT_NE(out.find("WaitPortTimeout=25000"), string::npos) << out;
    EXPECT_NE(out.find("Commands=0"), string::npos) << out;
}

TEST_F(SettingsBesideProgram, OnlyCommandsSectionGivesDefaultSettings)
{
    const string ini = "[Commands]\r\n1=VOLUME,1\r\n";
    const string out = Run("remote.exe", &ini);
    EXPECT_NE(out.find("Port=[COM1]"), string::npos) << out;
    EXPECT_NE(out.find("PingInterval=10000"), string::npos) << out;
    EXPECT_NE(out.find("Key=[1]"), string::npos) << out;
}

TEST_F(SettingsBesideProgram, EmptyPortStaysEmptyRatherThanDefault)
{
    const string ini = "[Settings]\r\nPort=\r\nPingInterval=\r\n";
    const string out = Run("remote.exe", &ini);
    EXPECT_NE(out.find("Port=[]"), string::npos) << out;
    EXPECT_NE(out.find("PingInterval=10000\n"), string::npos) << out;
}

TEST_F(SettingsBesideProgram, PingIntervalIsReadLeniently)
{
    const std::pair<string, string> cases[] = {
        {"3000", "3000"}, {"3 000", "3"}, {"2500ms", "2500"},
        // No usable period: the default, not a flood (0) or silence (below 0).
        {"abc", "10000"}, {"0", "10000"}, {"-5", "10000"},
    };
    for (const auto& c : cases) {
        const string ini = "[Settings]\r\nPingInterval=" + c.first + "\r\n";
        const string out = Run("remote.exe", &ini);
        EXPECT_NE(out.find("PingInterval=" + c.second + "\n"), string::npos) << c.first << ": " << out;
    }
}

TEST_F(SettingsBesideProgram, WaitPortTimeoutLoadsLikeAnyOtherKey)
{
    const string ini = "[Settings]\r\nPort=COM4\r\nPingInterval=5000\r\nWaitPortTimeout=30000\r\n"
                       "[Commands]\r\na=WINAMP,1\r\n";
    const string out = Run("remote.exe", &ini);
    EXPECT_NE(out.find("Port=[COM4]"), string::npos) << out;
    EXPECT_NE(out.find("PingInterval=5000"), string::npos) << out;
    EXPECT_NE(out.find("WaitPortTimeout=30000"), string::npos) << out;
    EXPECT_NE(out.find("Commands=1"), string::npos) << out;
}

TEST_F(SettingsBesideProgram, LongLinesAndBinaryGarbageDoNotBreakLoading)
{
    string ini = "[Settings]\r\nPort=" + string(10000, 'P') + "\r\n[Commands]\r\n" +
                 string(10000, 'k') + "=x\r\n";
    for (int i = 0; i < 2000; ++i) ini += static_cast<char>((i * 37 + 11) % 256);
    ini += "\r\nlast=WINAMP,1\r\n";
    const string out = Run("remote.exe", &ini);
    EXPECT_NE(out.find("Port=[" + string(255, 'P') + "]"), string::npos) << out.substr(0, 400);
    EXPECT_NE(out.find("Commands="), string::npos);
}

std::string Utf8(const std::wstring& text)
{
    std::string out(text.size() * 4 + 1, '\0');
    out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0],
                                                       static_cast<int>(out.size()), nullptr, nullptr)) - 1);
    return out;
}

void WriteWide(const std::wstring& path, const string& bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

// A folder named in characters the ANSI code page lacks (Chinese, under
// Wine's 1252): the program and the tools still read the settings beside
// them, through the folder's short name; the file keeps the program's name.
TEST_F(SettingsBesideProgram, AFolderNamedOutsideTheCodePageIsReachedByItsShortName)
{
    const string parent = dir.Win("x");
    std::wstring folder(parent.begin(), parent.end() - 1);
    folder += L"\u4E2D\u6587\\";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, folder.c_str(), -1, nullptr, 0, nullptr, &lossy);
    ASSERT_TRUE(lossy) << "code page " << GetACP() << " holds the folder's name; the test needs one that does not";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const string module = ModuleDir();
    const std::wstring built = std::wstring(module.begin(), module.end()) + L"\\";
    ASSERT_TRUE(CopyFileW((built + L"settings_probe.exe").c_str(), (folder + L"phone remote.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((built + L"..\\quorvix-check.exe").c_str(), (folder + L"quorvix-check.exe").c_str(), FALSE));
    WriteWide(folder + L"phone remote.ini", "[Settings]\r\nPort=COM9\r\n");
    WriteWide(folder + L"quorvix.ini", "[Settings]\r\nPort=COM9\r\n[Commands]\r\n: 5,=WINAMP,1\r\n");

    string out;
    EXPECT_EQ(RunProgram("\"" + Utf8(folder + L"phone remote.exe") + "\"", 30000, &out), 0);
    EXPECT_NE(out.find("Port=[COM9]"), string::npos) << out;
    EXPECT_NE(out.find("\\phone remote.ini\n"), string::npos) << out;
    EXPECT_EQ(RunProgram("\"" + Utf8(folder + L"quorvix-check.exe") + "\"", 30000, &out), 0) << out;
    EXPECT_NE(out.find("quorvix.ini: no problems found"), string::npos) << out;
}

TEST(SettingsPath, LastFourCharactersAreReplaced)
{
    EXPECT_EQ(SettingsPathFor("C:\\Tools\\Remote.exe"), "C:\\Tools\\Remote.ini");
    EXPECT_EQ(SettingsPathFor("D:\\bin\\phone.EXE"), "D:\\bin\\phone.ini");
    EXPECT_EQ(SettingsPathFor("C:\\x\\prog"), "C:\\x\\.ini");
    EXPECT_EQ(SettingsPathFor("ab"), ".ini");
}

} // namespace
