// Received text becoming key presses and releases: what runs, in which
// order, and what the held key does on each pass.
#include <gtest/gtest.h>

#include <objbase.h>

#include "actions/actions.h"
#include "app/app.h"
#include "link/link.h"
#include "link/link_testing.h"
#include "test_support.h"

namespace {

using std::string;

struct Keys : ::testing::Test {
    TempDir dir;
    HWND player = nullptr;
    void SetUp() override
    {
        player = CreatePlayerWindow();
        Settings("[Commands]\r\nCKEV: 5=WINAMP,5\r\nCKEV: 6=WINAMP,6\r\n: 6=WINAMP,66\r\n"
                 "CKEV: 7=MOUSEMOVE,X,3\r\nCKEV: 8=MOUSEMOVE,Y,-2\r\n");
        MouseDeltaX = MouseDeltaY = VolumeStep = 0;
    }
    void TearDown() override
    {
        DestroyWindow(player);
        Give("");
    }
    void Settings(const string& text)
    {
        WriteBytes(dir.Win("keys.ini"), text);
        CurrentSettings = LoadSettingsFrom(dir.Win("keys.ini"));
    }
    // As the reader would store it, but stamped as long ago, unless fresh.
    void Give(const string& text, bool fresh = false) { ReplaceReceived(text, fresh ? 0 : 1000); }
    string Left() { return ReceivedText(); }
};

// Phones frame each report with CR LF on both sides; the empty lines between
// cost nothing, so a burst is taken in one pass rather than building a
// backlog of stale presses.
TEST_F(Keys, CrLfFramedReportsAreAllHandledInOnePass)
{
    string burst;
    for (int i = 0; i < 200; ++i) burst += "\r\n+CKEV: 5,1\r\n\r\n+CKEV: 5,0\r\n";
    Give(burst);
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>(200, 5));
    EXPECT_EQ(Left(), "");
}

TEST_F(Keys, LfOnlyReportsAreAllHandledInOnePass)
{
    Give("+CKEV: 5,1\n+CKEV: 5,0\n+CKEV: 6,1\n");
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{5, 6, 66}));
}

TEST_F(Keys, EveryMatchingEntryRunsInTableOrderAndOnlyOnPress)
{
    Give("+CKEV: 6,1\r");
    ProcessReceived();
    Give("+CKEV: 6,0\r");
    ProcessReceived();
    Give("OK\rATZ\r");
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{6, 66}));
}

TEST_F(Keys, AKeyNamedOneMatchesEveryPress)
{
    Settings("[Commands]\r\n1=WINAMP,1\r\n");
    Give("+CKEV: 5,1\r+CKEV: 9,1\r+CKEV: 9,0\r");
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{1, 1}));
}

TEST_F(Keys, AReportSplitAcrossReadsIsOnePress)
{
    Give("+CKEV: 5", true);
    ProcessReceived();
    EXPECT_TRUE(PlayerMessages.empty());
    EXPECT_EQ(Left(), "+CKEV: 5");
    AppendReceived(",1\r", 3);
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>{5});
}

TEST_F(Keys, AnUnendedLineCountsOnceThePhoneIsQuiet)
{
    Give("+CKEV: 5,1", true);
    ProcessReceived();
    EXPECT_TRUE(PlayerMessages.empty());
    Sleep(LINE_TAIL_WAIT + 20);
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>{5});
}

TEST_F(Keys, ACommandEditedWhileRunningAppliesAtTheNextPress)
{
    Give("+CKEV: 5,1\r");
    ProcessReceived();
    WriteBytes(CurrentSettings.IniPath, "[Commands]\r\nCKEV: 5=WINAMP,55\r\n");
    Give("+CKEV: 5,1\r");
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), (std::vector<WPARAM>{5, 55}));
}

// The line quorvix-monitor --learn writes for a key runs nothing until the
// user writes its command.
TEST_F(Keys, ALearnedKeyRunsNothingUntilItsCommandIsWritten)
{
    Settings("[Commands]\r\n: 5,= ; key 5: put a command here\r\n");
    Give("+CKEV: 5,1\r");
    ProcessReceived();
    EXPECT_TRUE(PlayerMessages.empty());
    WriteBytes(CurrentSettings.IniPath, "[Commands]\r\n: 5,=WINAMP,5 ; key 5\r\n");
    Give("+CKEV: 5,1\r");
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>{5});
}

TEST_F(Keys, ALineWithBothMarkersRunsThenReleases)
{
    Give("+CKEV: 7,1\r");
    ProcessReceived();
    ASSERT_EQ(MouseDeltaX, 3);
    Give("+CKEV: 5,1,0\r");
    ProcessReceived();
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>{5});
    EXPECT_EQ(MouseDeltaX, 0);
}

TEST_F(Keys, AHeldMousemoveMovesEveryPassUntilAnyRelease)
{
    ASSERT_TRUE(SetCursorPos(300, 300));
    Give("+CKEV: 7,1\r+CKEV: 8,1\r");
    IdleWork();
    IdleWork();
    POINT at = {};
    GetCursorPos(&at);
    EXPECT_EQ(at.x, 306);
    EXPECT_EQ(at.y, 296);
    Give("+CKEV: 5,0\r");
    IdleWork();
    IdleWork();
    GetCursorPos(&at);
    EXPECT_EQ(at.x, 306);
    EXPECT_EQ(at.y, 296);
    EXPECT_EQ(MouseDeltaY, 0);
}

TEST_F(Keys, AHeldVolumeKeyStepsTheVolumeEveryPass)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetMasterVolume(10000);
    const uint32_t start = GetMasterVolume();
    Settings("[Commands]\r\nup=VOLUME,2\r\n");
    Give("up,1\r");
    IdleWork();
    IdleWork();
    const uint32_t after = GetMasterVolume();
    EXPECT_GE(after + 2, start + 2000);
    EXPECT_LE(after, start + 2000);
    Give("up,0\r");
    IdleWork();
    EXPECT_EQ(GetMasterVolume(), after);
    CoUninitialize();
}

} // namespace
