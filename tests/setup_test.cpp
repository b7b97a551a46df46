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
const char* const INSTALLED[] = {"quorvix.exe", "quorvix-monitor.exe", "quorvix-check.exe",
                                 "README.txt", "quorvix.ini", "uninstall.exe"};
const char* const SHORTCUTS[] = {"Quorvix.lnk", "Quorvix settings.lnk", "Find my phone.lnk",
                                 "Uninstall Quorvix.lnk"};

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
    }
    string At(const char* name) const { return dir + "\\" + name; }
    int RunSetup() { return RunProgram("\"" + setup + "\" /S", 60000); }
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

} // namespace
