// The real quorvix.exe under Wine, observed from outside: a copy of it in a
// folder of its own with its settings file, a pty pair as its port, the test
// playing the phone, the player window and the input hooks.
#include <gtest/gtest.h>

#include <memory>

#include "input_recorder.h"
#include "app/app.h"
#include "app/app_testing.h"
#include "test_support.h"

namespace {

using std::string;

// Sleeps with this thread's messages answered: the program's SendMessage to
// the player window waits for them.
void Pump(DWORD ms)
{
    WaitFor([] { return false; }, ms);
}

struct Program : ::testing::Test {
    TempDir dir;
    PtyPair pty{dir};
    HWND player = nullptr;
    QuorvixRun run;
    PROCESS_INFORMATION& pi = run.pi;
    string& exe = run.exe;

    void SetUp() override
    {
        player = CreatePlayerWindow();
        ASSERT_TRUE(pty.Start());
    }
    void TearDown() override
    {
        run.Close(5000);
        DestroyWindow(player);
    }
    bool Start(const string& settings, const string& name = "quorvix.exe")
    {
        return run.Start(dir.Win(), settings, name);
    }
    string Settings(const string& ping, const string& commands)
    {
        return "[Settings]\r\nPort=" + pty.pcPath + "\r\nPingInterval=" + ping + "\r\n[Commands]\r\n" +
               commands;
    }
    DWORD ExitCode(DWORD timeoutMs) { return run.ExitCode(timeoutMs); }
    // The box's window appears before its text does; the text is taken
    // from the first reading that has one.
    HWND WaitForErrorBox(string& text, DWORD timeoutMs = 10000)
    {
        HWND box = nullptr;
        WaitFor([&] {
            box = FindWindowA(nullptr, "Error");
            text = box ? ErrorBoxText(box) : string();
            return !text.empty();
        }, timeoutMs);
        return box;
    }
};

const string INIT = "ATZ\r\nAT+CMER=3,2\r\n\r\n";

TEST_F(Program, SendsTheInitStringAtStartAndAsKeepAlive)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("1000", "")));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    const string more = phone.ReadAtLeast(60, 4500);
    EXPECT_EQ(more, INIT + INIT + INIT);
}

// A typo such as PingInterval=ten reads as 0: keep-alives at the default
// period, not at the timer's minimum (about a hundred a second).
TEST_F(Program, AZeroPingIntervalKeepsTheDefaultPeriod)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("ten", "")));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    EXPECT_EQ(phone.ReadFor(3000), "");
}

TEST_F(Program, APressRunsTheMappedCommandsAndAReleaseStopsTheCursor)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("10000", "CKEV: 5=WINAMP,40045\r\nCKEV: 6=KEYPRESS,$11,43\r\n"
                                        "CKEV: 7=MOUSEMOVE,X,2\r\n1=WINAMP,1\r\n")));
    phone.ReadAtLeast(20, 10000);
    auto recorder = std::make_unique<InputRecorder>();

    phone.Write("\r\n+CKEV: 5,1\r\n\r\n+CKEV: 5,0\r\n");
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 2; }, 5000));
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{40045, 1}));

    // Split across two writes: still one press.
    PlayerMessages.clear();
    phone.Write("+CKEV: 5");
    Pump(50);
    phone.Write(",1\r\n+CKEV: 5,0\r\n");
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 2; }, 5000));
    Pump(300);
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{40045, 1}));

    phone.Write("+CKEV: 6,1\r\n+CKEV: 6,0\r\n");
    Pump(500);
    const auto keys = recorder->Collect();
    recorder.reset();
    const std::vector<InputEvent> expected = {KeyUp(0x11), KeyDown(0x11), KeyUp(0x43),
                                              KeyDown(0x43), KeyUp(0x11), KeyUp(0x43)};
    EXPECT_EQ(keys, expected) << Describe(keys);

    SetCursorPos(100, 200);
    phone.Write("+CKEV: 7,1\r\n");
    Pump(500);
    POINT held = {};
    GetCursorPos(&held);
    EXPECT_GT(held.x, 120);
    phone.Write("+CKEV: 7,0\r\n");
    Pump(300);
    POINT released = {}, later = {};
    GetCursorPos(&released);
    Pump(500);
    GetCursorPos(&later);
    EXPECT_EQ(later.x, released.x);
    EXPECT_EQ(later.y, 200);
}

TEST_F(Program, ReadsTheSettingsFileOfItsOwnNameAndSeesEditedCommands)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("10000", "key=WINAMP,7\r\n"), "phone.exe"));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    phone.Write("key,1\r\nkey,0\r\n");
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 1; }, 5000));
    WriteBytes(dir.Win("phone.ini"), Settings("10000", "key=WINAMP,8\r\n"));
    phone.Write("key,1\r\nkey,0\r\n");
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 2; }, 5000));
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{7, 8}));
}

// Two programs in the foreground in turn, then a third: each press runs the
// foreground program's own command, or [Commands]'s for a program without
// a section; an edit of a program's command applies at its next press.
TEST_F(Program, EachForegroundProgramRunsItsOwnSectionsCommand)
{
    const string helper = ModuleDir() + "\\foreground_window.exe";
    for (const char* name : {"alpha.exe", "beta.exe", "gamma.exe"})
        ASSERT_TRUE(CopyFileA(helper.c_str(), dir.Win(name).c_str(), FALSE)) << name;
    const string sections = "[Commands:alpha.exe]\r\n: 5,=WINAMP,2\r\n[Commands:BETA.EXE]\r\n"
                            ": 5,=WINAMP,3\r\n";
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("10000", ": 5,=WINAMP,1\r\n") + sections));
    phone.ReadAtLeast(20, 10000);
    auto pressWith = [&](const char* program) {
        ChildProcess window;
        EXPECT_TRUE(window.Start(dir.Win(program)));
        EXPECT_TRUE(WaitFor([&] {
            DWORD owner = 0;
            GetWindowThreadProcessId(GetForegroundWindow(), &owner);
            return owner == window.pi.dwProcessId;
        }, 5000)) << program << " did not come to the foreground";
        PlayerMessages.clear();
        phone.Write("+CKEV: 5,1\r\n+CKEV: 5,0\r\n");
        WaitFor([] { return !PlayerMessages.empty(); }, 5000);
        Pump(200);
        window.Close("QuorvixTestForeground", 5000);
        return PlayerCommands();
    };
    EXPECT_EQ(pressWith("alpha.exe"), (std::vector<WPARAM>{2}));
    EXPECT_EQ(pressWith("beta.exe"), (std::vector<WPARAM>{3}));
    EXPECT_EQ(pressWith("gamma.exe"), (std::vector<WPARAM>{1}));
    WriteBytes(dir.Win("quorvix.ini"), Settings("10000", ": 5,=WINAMP,1\r\n") +
                                           "[Commands:alpha.exe]\r\n: 5,=WINAMP,4\r\n");
    EXPECT_EQ(pressWith("alpha.exe"), (std::vector<WPARAM>{4}));
}

// Wine's load order for one program's DLLs (what WINEDLLOVERRIDES sets for
// a whole session, which a child started from here does not inherit).
void PreferDllsBeside(const char* exe, bool prefer)
{
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + exe + "\\DllOverrides";
    if (!prefer) {
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        return;
    }
    HKEY k = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(k, "winmm", 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"), 15);
    RegCloseKey(k);
}

// A winmm.dll planted beside the programs (a download into the same folder)
// is never loaded, though the loader is told to prefer a DLL found there.
TEST_F(Program, ADllPlantedBesideTheProgramsIsNotLoaded)
{
    const char* const programs[] = {"load_by_name.exe", "quorvix-check.exe", "quorvix.exe"};
    for (const char* exe : programs) PreferDllsBeside(exe, true);
    const string built = ModuleDir() + "\\";
    const string marker = dir.Win("planted-loaded");
    ASSERT_TRUE(CopyFileA((built + "..\\planted\\winmm.dll").c_str(), dir.Win("winmm.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((built + "load_by_name.exe").c_str(), dir.Win("load_by_name.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((built + "..\\quorvix-check.exe").c_str(), dir.Win("quorvix-check.exe").c_str(), FALSE));
    // The plant works on a program that loads winmm by its name alone.
    EXPECT_EQ(RunProgram("\"" + dir.Win("load_by_name.exe") + "\" winmm.dll", 30000), 0);
    const bool control = FileExists(marker);
    DeleteFileA(marker.c_str());
    EXPECT_EQ(RunProgram("\"" + dir.Win("quorvix-check.exe") + "\" \"" + dir.Win("none.ini") + "\"", 30000), 2);
    EXPECT_FALSE(FileExists(marker)) << "quorvix-check.exe loaded it";
    // The program uses winmm for the mixer, on the passes of a held VOLUME key.
    PhoneEnd phone(pty.phonePath);
    const bool started = Start(Settings("86400000", "+CKEV: 8=VOLUME,1\r\n: 8,=WINAMP,8\r\n"));
    if (started) {
        phone.ReadAtLeast(20, 10000);
        phone.Write("\r\n+CKEV: 8,1\r\n");
        EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 1; }, 5000));
        Pump(500);
        phone.Write("\r\n+CKEV: 8,0\r\n");
        Pump(300);
    }
    for (const char* exe : programs) PreferDllsBeside(exe, false);
    ASSERT_TRUE(control) << "the planted DLL is not loaded even by name: the check shows nothing";
    ASSERT_TRUE(started);
    EXPECT_FALSE(FileExists(marker)) << "quorvix.exe loaded it";
}

// Whether the shell holds the icon of that window (a change of nothing
// succeeds only for an icon it has).
bool TrayHasIcon(HWND window)
{
    NOTIFYICONDATAA d = TrayRecord(window, 0, 0, nullptr, 0, nullptr);
    return Shell_NotifyIconA(NIM_MODIFY, &d) != FALSE;
}

// Explorer started again has none of the old icons: the program adds its
// own again when the new taskbar announces itself.
TEST_F(Program, TheTrayIconComesBackWhenTheTaskbarIsCreatedAgain)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("86400000", "")));
    ASSERT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    HWND program = FindWindowA("Quorvix", nullptr);
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(WaitFor([&] { return TrayHasIcon(program); }, 5000));
    NOTIFYICONDATAA d = TrayRecord(program, 0, 0, nullptr, 0, nullptr);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &d));
    ASSERT_FALSE(TrayHasIcon(program));
    PostMessageA(program, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitFor([&] { return TrayHasIcon(program); }, 5000));
}

TEST_F(Program, ASecondInstanceSaysSoAndEndsWithCodeZero)
{
    ASSERT_TRUE(Start(Settings("10000", "")));
    HWND first = FindWindowA("Quorvix", nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION second = {};
    string line = "\"" + exe + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &second));
    string text;
    HWND box = WaitForErrorBox(text);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text, "Application is runned");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    DWORD code = 12345;
    EXPECT_TRUE(WaitFor([&] { return WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0; }, 10000));
    GetExitCodeProcess(second.hProcess, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowA("Quorvix", nullptr), first);
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
}

TEST_F(Program, APortThatCannotOpenIsReportedAndTheProgramRunsOn)
{
    ASSERT_TRUE(Start("[Settings]\r\nPort=COM7\r\n"));
    string text;
    HWND box = WaitForErrorBox(text);
    ASSERT_NE(box, nullptr);
    // The design's text, then why: COM7 is a folder here, which opens as a
    // port in use does.
    EXPECT_EQ(text.substr(0, text.find('\n')), "Failed to open COM7");
    EXPECT_NE(text.find("\n\nAnother program has the port open ("), string::npos) << text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    Pump(500);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageA(FindWindowA("Quorvix", nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCode(10000), 0u);
}

// A folder named in characters the ANSI code page lacks (Chinese, under
// Wine's 1252): the program and the tools still read the settings beside
// them, through the folder's short name; the file keeps the program's name.
TEST_F(Program, AFolderNamedOutsideTheCodePageIsReachedByItsShortName)
{
    const string folder = dir.Win("\xE4\xB8\xAD\xE6\x96\x87");  // UTF-8 of two Chinese characters
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, Wide(folder).c_str(), -1, nullptr, 0, nullptr, &lossy);
    ASSERT_TRUE(lossy) << "code page " << GetACP() << " holds the folder's name; the test needs one that does not";
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Wide(ModuleDir() + "\\..\\quorvix-check.exe").c_str(),
                          Wide(folder + "\\quorvix-check.exe").c_str(), FALSE));
    WriteBytes(folder + "\\quorvix.ini", "[Settings]\r\nPort=COM8\r\n[Commands]\r\n: 5,=WINAMP,1\r\n");

    // The port it names is only in the file named after the program.
    ASSERT_TRUE(run.Start(folder, "[Settings]\r\nPort=COM9\r\n", "phone remote.exe"));
    string text;
    HWND box = WaitForErrorBox(text);
    EXPECT_EQ(text.substr(0, text.find('\n')), "Failed to open COM9");
    EXPECT_NE(text.find("\n\nThis PC has no such port"), string::npos) << text;
    if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
    string out;
    EXPECT_EQ(RunProgram("\"" + folder + "\\quorvix-check.exe\"", 30000, &out), 0) << out;
    EXPECT_NE(out.find("quorvix.ini: no problems found"), string::npos) << out;
}

TEST_F(Program, EndsWithCodeZeroOnCloseAndOnAForeignQuit)
{
    ASSERT_TRUE(Start(Settings("10000", "")));
    PostMessageA(FindWindowA("Quorvix", nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCode(10000), 0u);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    pi = {};

    ASSERT_TRUE(Start(Settings("10000", "")));
    const DWORD thread = GetWindowThreadProcessId(FindWindowA("Quorvix", nullptr), nullptr);
    PostThreadMessageA(thread, WM_QUIT, 0, 0);
    EXPECT_EQ(ExitCode(10000), 0u);
    EXPECT_EQ(FindWindowA("Quorvix", nullptr), nullptr);
}

TEST_F(Program, TheTrayMenusExitItemEndsTheProgram)
{
    ASSERT_TRUE(Start(Settings("10000", "")));
    HWND window = FindWindowA("Quorvix", nullptr);
    // What the shell sends for a right button press on the icon.
    PostMessageA(window, WM_APP + 1, 0, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menu = FindWindowA("#32768", nullptr)) != nullptr; }, 5000));
    // Third item: past "Настройки" and the separator.
    PostMessageA(window, WM_COMMAND, 200, 0);
    EXPECT_EQ(ExitCode(10000), 0u);
}

// The phone drops and comes back 3 s later: the keep-alive's "WriteFile
// failed" box is the design's, but a press once the link is back runs, at
// the latest when the box is closed.
TEST_F(Program, APressAfterThePhoneCameBackRunsThoughTheWriteErrorBoxWasShown)
{
    {
        PhoneEnd phone(pty.phonePath);
        ASSERT_TRUE(Start(Settings("10000", "+CKEV: 5=WINAMP,5\r\n")));
        ASSERT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    }
    pty.Stop();
    string text;
    // At the next keep-alive, up to a period (10 s) after the drop.
    HWND box = WaitForErrorBox(text, 20000);
    EXPECT_EQ(text, "WriteFile failed");
    Pump(3000);
    ASSERT_TRUE(pty.Start());
    PhoneEnd phone(pty.phonePath);
    // Reopened by the silent-link watchdog, 20 s after the drop.
    ASSERT_EQ(phone.ReadAtLeast(20, 40000).substr(0, 20), INIT);
    phone.Write("\r\n+CKEV: 5,1\r\n");
    Pump(1000);
    const size_t whileOpen = PlayerMessages.size();
    if (IsWindow(box)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(whileOpen, 0u) << "the box's own loop ran the idle pass";
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 1; }, 3000));
}

TEST_F(Program, ASilentLinkIsReopenedAndAHeldMoveStops)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(Start(Settings("60000", "move=MOUSEMOVE,Y,1\r\n")));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    SetCursorPos(500, 100);
    phone.Write("move,1\r\n");
    // Twenty seconds without traffic: the port is closed and opened again.
    const string again = phone.ReadAtLeast(20, 30000);
    EXPECT_EQ(again, INIT);
    Pump(300);
    POINT a = {}, b = {};
    GetCursorPos(&a);
    Pump(500);
    GetCursorPos(&b);
    EXPECT_GT(a.y, 100);
    EXPECT_EQ(a.y, b.y);
}

} // namespace
