// The command language as other programs see its effects: input events at
// low-level hooks, messages at a player window, programs that start.
#include <gtest/gtest.h>

#include <objbase.h>

#include <atomic>
#include <thread>

#include "actions/actions.h"
#include "actions/command_parse.h"
#include "app/app.h"
#include "input_recorder.h"
#include "test_support.h"

namespace {

using std::string;
using Events = std::vector<InputEvent>;

// Every key goes extended but Alt (0x12), which goes as the left Alt: the
// right one is AltGr on many keyboards.
Events Keys(std::initializer_list<std::pair<DWORD, bool>> list)
{
    Events e;
    for (auto& k : list) {
        e.push_back(k.second ? KeyUp(k.first) : KeyDown(k.first));
        if (k.first == 0x12) e.back().extended = false;
    }
    return e;
}

struct InputCase { string command; Events expected; };

// Runs each command and compares what the hooks saw with its expected events.
template <size_t N>
void ExpectInput(const InputCase (&cases)[N])
{
    InputRecorder recorder;
    for (const auto& c : cases) {
        ExecuteCommand(c.command, nullptr);
        const Events seen = recorder.Collect();
        EXPECT_EQ(seen, c.expected) << c.command << " gave " << Describe(seen);
    }
}

TEST(Keypress, SendsUpDownPerKeyThenUpPerKeyInListOrder)
{
    const bool U = true, D = false;
    const InputCase cases[] = {
        {"KEYPRESS,$11,43", Keys({{0x11, U}, {0x11, D}, {0x43, U}, {0x43, D}, {0x11, U}, {0x43, U}})},
        {"KEYPRESS,$12,73", Keys({{0x12, U}, {0x12, D}, {0x73, U}, {0x73, D}, {0x12, U}, {0x73, U}})},
        {"KEYPRESS,41,", Keys({{0x41, U}, {0x41, D}, {0x41, U}})},
        {"KEYPRESS,1A5", Keys({{0xA5, U}, {0xA5, D}, {0xA5, U}})},
        {"KEYPRESS , 41 ; comment", Keys({{0x41, U}, {0x41, D}, {0x41, U}})},
        {"KEYPRESS", {}},
        {"KEYPRESS,", {}},
        {"keypress,41", {}},
        {"", {}},
        {"; KEYPRESS,41", {}},
    };
    ExpectInput(cases);
}

TEST(Keypress, AnEmptyFieldIsKeyZero)
{
    InputRecorder recorder;
    ExecuteCommand("KEYPRESS,,41", nullptr);
    const Events seen = recorder.Collect();
    // Key 0 is not a key: what reaches the hooks for it is the platform's
    // business, but the 0x41 events must come after it, complete and in order.
    const Events tail = Keys({{0x41, true}, {0x41, false}});
    ASSERT_GE(seen.size(), 3u) << Describe(seen);
    EXPECT_EQ(seen.back(), KeyUp(0x41)) << Describe(seen);
    bool found = false;
    for (size_t i = 0; i + 1 < seen.size(); ++i)
        if (seen[i] == tail[0] && seen[i + 1] == tail[1]) found = true;
    EXPECT_TRUE(found) << Describe(seen);
}

TEST(MouseClick, PressesAndReleasesOnlyLeftOrRight)
{
    const InputCase cases[] = {
        {"MOUSECLICK,L", {Mouse(WM_LBUTTONDOWN), Mouse(WM_LBUTTONUP)}},
        {"MOUSECLICK,R", {Mouse(WM_RBUTTONDOWN), Mouse(WM_RBUTTONUP)}},
        {"MOUSECLICK, L ,R", {Mouse(WM_LBUTTONDOWN), Mouse(WM_LBUTTONUP)}},
        {"MOUSECLICK,l", {}},
        {"MOUSECLICK", {}},
        {"MOUSECLICK,VOLUME,5", {}},
    };
    ExpectInput(cases);
}

struct HeldCase { string command; int32_t x, y, volume; };

TEST(HeldKeyState, OnlyMousemoveAndVolumeSetIt)
{
    const HeldCase cases[] = {
        {"VOLUME,2;louder", 11, 22, 2},     {" VOLUME , -3 ", 11, 22, -3},
        {"volume,1", 11, 22, 33},           {"Volume,1", 11, 22, 33},
        {"VOLUME,5,6", 11, 22, 5},          {"VOLUME", 11, 22, 0},
        {"VOLUME,12x", 11, 22, 12},         {"VOLUME,x12", 11, 22, 0},
        {"MOUSEMOVE,Z,5", 11, 22, 33},      {"MOUSEMOVE,X,+7", 7, 22, 33},
        {"MOUSEMOVE,X", 0, 22, 33},         {"MOUSEMOVE, Y , -5 ", 11, -5, 33},
        {"MOUSEMOVE,x,5", 11, 22, 33},      {"MOUSECLICK,VOLUME,5", 11, 22, 33},
        {"WINAMP,VOLUME,5", 11, 22, 33},    {";VOLUME,1", 11, 22, 33},
        {"VOLUME,4294967297", 11, 22, 1},
    };
    for (const auto& c : cases) {
        MouseDeltaX = 11, MouseDeltaY = 22, VolumeStep = 33;
        ExecuteCommand(c.command, nullptr);
        EXPECT_EQ(MouseDeltaX, c.x) << c.command;
        EXPECT_EQ(MouseDeltaY, c.y) << c.command;
        EXPECT_EQ(VolumeStep, c.volume) << c.command;
    }
    MouseDeltaX = MouseDeltaY = VolumeStep = 0;
}

TEST(Parsing, ExecuteSplitsFileFromParametersAtTheFirstComma)
{
    Command c = ParseCommand("EXECUTE,C:\\a,b.txt");
    EXPECT_EQ(c.kind, CommandKind::Execute);
    EXPECT_EQ(c.file, "C:\\a");
    EXPECT_EQ(c.parameters, "b.txt");
    c = ParseCommand("EXECUTE, C:\\Music\\song.mp3 ; my song");
    EXPECT_EQ(c.file, "C:\\Music\\song.mp3");
    EXPECT_EQ(c.parameters, "");
    c = ParseCommand("EXECUTE,x.exe, /a b , c ");
    EXPECT_EQ(c.parameters, "/a b , c");
    c = ParseCommand("EXECUTE");
    EXPECT_EQ(c.kind, CommandKind::Execute);
    EXPECT_EQ(c.file, "");
}

// A stand-in for the player's main window.
struct PlayerWindow : ::testing::Test {
    HWND window = nullptr;
    void SetUp() override
    {
        window = CreatePlayerWindow();
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        if (window) DestroyWindow(window);
    }
};

TEST_F(PlayerWindow, ReceivesTheNumberWithLParamOne)
{
    ExecuteCommand("WINAMP,100", nullptr);
    ExecuteCommand("WINAMP,abc", nullptr);
    ExecuteCommand("WINAMP , 40045 ; next", nullptr);
    ExecuteCommand("winamp,7", nullptr);
    ASSERT_EQ(PlayerMessages.size(), 3u);
    EXPECT_EQ(PlayerMessages[0], std::make_pair(WPARAM(100), LPARAM(1)));
    EXPECT_EQ(PlayerMessages[1], std::make_pair(WPARAM(0), LPARAM(1)));
    EXPECT_EQ(PlayerMessages[2], std::make_pair(WPARAM(40045), LPARAM(1)));
}

std::atomic<bool> PlayerWoke{false};

LRESULT CALLBACK HungPlayerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_COMMAND) {
        Sleep(5000);
        PlayerWoke = true;
    }
    return DefWindowProcA(w, m, wp, lp);
}

// A player whose thread hangs: the command gives up on it after about a
// second instead of holding the program's main thread until it wakes.
TEST(HungPlayer, DoesNotHoldTheCallerUntilItWakes)
{
    std::atomic<HWND> hung{nullptr};
    std::atomic<DWORD> thread{0};
    std::thread player([&] {
        thread = GetCurrentThreadId();
        HWND w = CreatePlayerWindow();
        SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HungPlayerProc));
        hung = w;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
        DestroyWindow(w);
    });
    ASSERT_TRUE(WaitFor([&] { return hung.load() != nullptr; }, 5000));
    ExecuteCommand("WINAMP,40046", nullptr);
    EXPECT_FALSE(PlayerWoke) << "the command waited for the hung player";
    PostThreadMessageA(thread, WM_QUIT, 0, 0);
    player.join();
}

TEST_F(PlayerWindow, WithoutThePlayerNothingHappens)
{
    DestroyWindow(window);
    window = nullptr;
    ExecuteCommand("WINAMP,100", nullptr);
    EXPECT_TRUE(PlayerMessages.empty());
}

// EXECUTE starts a copy of the witness program, which logs its command line.
struct Execute : ::testing::Test {
    TempDir dir;
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
    string Witness(const string& path)
    {
        EXPECT_TRUE(CopyFileA((ModuleDir() + "\\witness.exe").c_str(), path.c_str(), FALSE));
        return path;
    }
    string LogOf(const string& exe)
    {
        // Read until whole: under Wine the renamed log is seen, now and then,
        // a moment before its text can be read (about 1 run in 10 on x64).
        const string log = exe + ".log";
        string text;
        WaitFor([&] {
            text = ReadBytes(log);
            return text.find("\ncwd=") != string::npos && text.back() == '\n';
        }, 15000);
        return text;
    }
};

TEST_F(Execute, StartsTheProgramWithItsParameters)
{
    const string exe = Witness(dir.Win("w1.exe"));
    ExecuteCommand("EXECUTE," + exe + ",/a b", nullptr);
    const string log = LogOf(exe);
    EXPECT_NE(log.find("w1.exe"), string::npos) << log;
    EXPECT_NE(log.find(" /a b\n"), string::npos) << log;
}

TEST_F(Execute, TheFileNameEndsAtTheFirstComma)
{
    const string exe = Witness(dir.Win("w2.exe"));
    ExecuteCommand("EXECUTE," + exe + ",b.txt,c", nullptr);
    const string log = LogOf(exe);
    EXPECT_NE(log.find(" b.txt,c\n"), string::npos) << log;
}

TEST_F(Execute, ABareNameWithACommentIsFoundBesideTheCaller)
{
    const string name = "wit" + std::to_string(GetCurrentProcessId()) + ".exe";
    const string exe = Witness(ModuleDir() + "\\" + name);
    ExecuteCommand("EXECUTE, " + name + " ; comment", nullptr);
    const string log = LogOf(exe);
    DeleteFileA((exe + ".log").c_str());
    WaitFor([&] { return DeleteFileA(exe.c_str()) != FALSE; }, 5000);
    EXPECT_NE(log.find(name), string::npos) << log;
    EXPECT_EQ(log.find(";"), string::npos) << log;
    EXPECT_EQ(log.find("comment"), string::npos) << log;
}

TEST_F(Execute, AMissingFileReturnsWithoutShowingAnything)
{
    ExecuteCommand("EXECUTE," + dir.Win("absent.exe"), nullptr);
    ExecuteCommand("EXECUTE", nullptr);
    ExecuteCommand("EXECUTE,,x", nullptr);
    // No dialog of the shell's may be left waiting for a user.
    EXPECT_EQ(FindWindowA("#32770", nullptr), nullptr);
}

} // namespace
