// The setup program under Wine, as a user meets it: a silent install into
// the user's own programs folder, an upgrade over a running program with
// changed settings, and a silent uninstall.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <string>

#include "test_support.h"

namespace {

using std::string;

const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvix";
const char* const CHOICES_KEY = "Software\\Quorvix";
const char* const INSTALLED[] = {"quorvix.exe", "quorvix-monitor.exe", "quorvix-check.exe",
                                 "README.txt", "quorvix.ini", "uninstall.exe", "installed-files.txt"};
const char* const SHORTCUTS[] = {"Quorvix.lnk", "Quorvix settings.lnk", "Find my phone.lnk",
                                 "Learn my keys.lnk", "Uninstall Quorvix.lnk"};

string Folder(int csidl)
{
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
    return path;
}

string RegistryText(const char* name)
{
    char value[512] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, UNINSTALL_KEY, name, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return "";
    return value;
}

// The process that owns the program's window, or 0.
DWORD RunningQuorvix()
{
    DWORD pid = 0;
    if (HWND w = FindWindowA("Quorvix", nullptr)) GetWindowThreadProcessId(w, &pid);
    return pid;
}

struct Setup : ::testing::Test {
    string dir = Folder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Quorvix";
    string menu = Folder(CSIDL_PROGRAMS) + "\\Quorvix";
    string startup = Folder(CSIDL_STARTUP) + "\\Quorvix.lnk";
    string setup = ModuleDir() + "\\..\\" SETUP_NAME;

    // An earlier run's install (the prefix is kept between runs) is taken away.
    void SetUp() override { Remove(); }
    void TearDown() override
    {
        const DWORD pid = RunningQuorvix();
        if (HANDLE p = pid ? OpenProcess(PROCESS_TERMINATE, FALSE, pid) : nullptr) {
            TerminateProcess(p, 0);
            CloseHandle(p);
        }
        Remove();
    }
    void Remove()
    {
        for (const string& folder : {dir, menu}) {
            string from = folder + '\0';
            SHFILEOPSTRUCTA op = {};
            op.wFunc = FO_DELETE;
            op.pFrom = from.c_str();
            op.fFlags = FOF_NO_UI;
            SHFileOperationA(&op);
        }
        DeleteFileA(startup.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);
        RegDeleteKeyA(HKEY_CURRENT_USER, CHOICES_KEY);
    }
    string At(const char* name) const { return dir + "\\" + name; }
    // /D= names the folder (last, unquoted, as NSIS wants it).
    int RunSetup(const string& folder = "")
    {
        return RunProgram("\"" + setup + "\" /S" + (folder.empty() ? "" : " /D=" + folder), 60000);
    }
    // The uninstaller in place (_?=), so that its own exit code comes back.
    int RunUninstallerInPlace()
    {
        return RunProgram("\"" + At("uninstall.exe") + "\" /S _?=" + dir, 60000);
    }
};

TEST_F(Setup, InstallsUpgradesARunningProgramKeepingItsSettingsAndUninstalls)
{
    ASSERT_TRUE(FileExists(setup)) << setup;
    ASSERT_EQ(RunSetup(), 0);
    for (const char* name : INSTALLED) EXPECT_TRUE(FileExists(At(name))) << name;
    for (const char* name : SHORTCUTS) EXPECT_TRUE(FileExists(menu + "\\" + name)) << name;
    EXPECT_TRUE(FileExists(startup));
    EXPECT_EQ(RegistryText("DisplayVersion"), VERSION);
    EXPECT_FALSE(RegistryText("Publisher").empty());
    EXPECT_EQ(RegistryText("QuietUninstallString"), "\"" + At("uninstall.exe") + "\" /S");
    DWORD size = 0, bytes = sizeof size;
    RegGetValueA(HKEY_CURRENT_USER, UNINSTALL_KEY, "EstimatedSize", RRF_RT_REG_DWORD, nullptr,
                 &size, &bytes);
    EXPECT_GT(size, 100u);
    EXPECT_NE(ReadBytes(At("quorvix.ini")).find("[Commands]"), string::npos);

    // The user's settings (here with odd bytes) and the program running on them.
    TempDir temp;
    PtyPair pty(temp);
    ASSERT_TRUE(pty.Start());
    const string mine = "; mine \xE9\r\n[Settings]\r\nPort=" + pty.pcPath + "\r\n[Commands]\r\nx=WINAMP,1";
    WriteBytes(At("quorvix.ini"), mine);
    PhoneEnd phone(pty.phonePath);
    ChildProcess first;
    ASSERT_TRUE(first.Start("\"" + At("quorvix.exe") + "\"", dir));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000).size(), 20u);
    ASSERT_TRUE(WaitFor([] { return RunningQuorvix() != 0; }, 5000));

    ASSERT_EQ(RunSetup(), 0);
    EXPECT_EQ(first.ExitCode(10000), 0u) << "the upgrade did not end the running program";
    EXPECT_TRUE(WaitFor([&] { return RunningQuorvix() != 0; }, 10000))
        << "the upgrade did not start the program again";
    EXPECT_NE(RunningQuorvix(), first.pi.dwProcessId);
    EXPECT_EQ(ReadBytes(At("quorvix.ini")), mine);

    // The uninstaller runs from a copy of itself and returns at once.
    ASSERT_EQ(RunProgram("\"" + At("uninstall.exe") + "\" /S", 60000), 0);
    // Its last steps: the uninstall entry, then the prompt (silent: keep).
    EXPECT_TRUE(WaitFor([&] { return RegistryText("DisplayName").empty(); }, 20000));
    EXPECT_TRUE(WaitFor([] { return RunningQuorvix() == 0; }, 10000));
    for (const char* name : INSTALLED) {
        if (string(name) != "quorvix.ini") {
            EXPECT_FALSE(FileExists(At(name))) << name;
        }
    }
    EXPECT_EQ(ReadBytes(At("quorvix.ini")), mine);
    EXPECT_FALSE(FileExists(menu));
    EXPECT_FALSE(FileExists(startup));
}

// Another program's uninstall.exe and the user's README.txt: a folder that
// holds files and no Quorvix install is refused, every file as it was.
TEST_F(Setup, RefusesAFolderOfSomeoneElsesFiles)
{
    TempDir temp;
    const string folder = temp.Win("userdocs");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    WriteBytes(folder + "\\README.txt", "my notes");
    WriteBytes(folder + "\\uninstall.exe", "another program's uninstaller");
    EXPECT_NE(RunSetup(folder), 0);
    EXPECT_EQ(ReadBytes(folder + "\\README.txt"), "my notes");
    EXPECT_EQ(ReadBytes(folder + "\\uninstall.exe"), "another program's uninstaller");
    EXPECT_FALSE(FileExists(folder + "\\quorvix.exe"));
    EXPECT_EQ(RegistryText("InstallLocation"), "");
}

// A Quorvix that will not end: the uninstaller says so with a non-zero exit
// code and removes nothing.
TEST_F(Setup, TheUninstallerStopsWhenQuorvixDoesNotEnd)
{
    ASSERT_EQ(RunSetup(), 0);
    ASSERT_TRUE(CopyFileA((ModuleDir() + "\\stubborn_window.exe").c_str(), At("quorvix.exe").c_str(), FALSE));
    ChildProcess stubborn;
    ASSERT_TRUE(stubborn.Start("\"" + At("quorvix.exe") + "\"", dir));
    ASSERT_TRUE(WaitFor([] { return RunningQuorvix() != 0; }, 5000));
    EXPECT_NE(RunUninstallerInPlace(), 0);
    for (const char* name : INSTALLED) EXPECT_TRUE(FileExists(At(name))) << name;
    for (const char* name : SHORTCUTS) EXPECT_TRUE(FileExists(menu + "\\" + name)) << name;
    EXPECT_FALSE(RegistryText("InstallLocation").empty());
    EXPECT_EQ(stubborn.ExitCode(0), DWORD{ChildProcess::RUNNING});
}

// A portable copy under another name, running from elsewhere on settings of
// its own, is neither ended nor joined by the installed copy.
TEST_F(Setup, AProgramRunningFromElsewhereIsLeftAlone)
{
    TempDir temp;
    PtyPair pty(temp);
    ASSERT_TRUE(pty.Start());
    QuorvixRun portable;
    ASSERT_TRUE(portable.Start(temp.Win(), "[Settings]\r\nPort=" + pty.pcPath + "\r\n[Commands]\r\n", "phone.exe"));
    ASSERT_TRUE(WaitFor([] { return RunningQuorvix() != 0; }, 10000));
    const DWORD pid = RunningQuorvix();
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_EQ(portable.ExitCode(0), DWORD{ChildProcess::RUNNING});
    Sleep(1000);
    EXPECT_EQ(RunningQuorvix(), pid);
    portable.Close();
}

// Choices made once stay: the folder given with /D= takes the upgrade, and
// a Startup shortcut the user removed stays removed.
TEST_F(Setup, AnUpgradeKeepsTheFolderAndTheStartupChoice)
{
    TempDir temp;
    const string chosen = temp.Win("apps");
    ASSERT_EQ(RunSetup(chosen), 0);
    ASSERT_TRUE(FileExists(chosen + "\\quorvix.exe"));
    ASSERT_TRUE(FileExists(startup));
    ASSERT_TRUE(DeleteFileA(startup.c_str()));
    WriteBytes(chosen + "\\quorvix.ini", "[Settings]\r\nPort=COM5\r\n");
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_FALSE(FileExists(At("quorvix.exe"))) << "the upgrade went to the default folder";
    EXPECT_EQ(RegistryText("InstallLocation"), chosen);
    EXPECT_FALSE(FileExists(startup));
    EXPECT_EQ(ReadBytes(chosen + "\\quorvix.ini"), "[Settings]\r\nPort=COM5\r\n");
    // The chosen folder's install is the one removed.
    ASSERT_EQ(RunProgram("\"" + chosen + "\\uninstall.exe\" /S _?=" + chosen, 60000), 0);
    EXPECT_FALSE(FileExists(chosen + "\\quorvix.exe"));
    EXPECT_TRUE(FileExists(chosen + "\\quorvix.ini"));
}

} // namespace
