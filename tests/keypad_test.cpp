// The keypad page's server in this process, reached over loopback by
// clients built from the same library: who is let in, what a page may say,
// the lines it makes, and the bounds on what a client sends.
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <gtest/gtest.h>

#include <memory>

#include "app/resource.h"
#include "link/keypad.h"
#include "test_support.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using std::string;

TEST(KeypadAccess, OnlyHomeNetworkAddressesAreLetIn)
{
    const struct {
        const char* address;
        bool home;
    } cases[] = {{"127.0.0.1", true},     {"127.9.9.9", true},      {"10.20.30.40", true},
                 {"172.16.0.1", true},    {"172.31.255.254", true}, {"172.32.0.1", false},
                 {"172.15.255.255", false}, {"192.168.1.20", true}, {"192.169.0.1", false},
                 {"169.254.7.7", true},   {"8.8.8.8", false},       {"100.64.0.1", false},
                 {"::1", true},           {"fe80::1", true},        {"febf::1", true},
                 {"fec0::1", false},      {"fc00::1", true},        {"fd12:3456::1", true},
                 {"2001:db8::1", false},  {"::ffff:192.168.0.9", true}, {"::ffff:8.8.8.8", false},
                 {"", false},             {"localhost", false},     {"192.168.1.1.1", false}};
    for (const auto& c : cases) EXPECT_EQ(IsHomeAddress(c.address), c.home) << c.address;
}

TEST(KeypadAccess, OnlyAKeypadsKeyEventsMakePhoneLines)
{
    EXPECT_EQ(KeyEventLine("5,1"), "+CKEV: 5,1");
    EXPECT_EQ(KeyEventLine("#,0"), "+CKEV: #,0");
    EXPECT_EQ(KeyEventLine("S,1"), "+CKEV: S,1");
    for (const char* bad : {"", "5", "5,", "5,2", "55,1", "x,1", "5;1", "5,1\r", " 5,1", "\0,1",
                            "+CKEV: 5,1", "5,1,1"})
        EXPECT_EQ(KeyEventLine(bad), "") << bad;
    EXPECT_EQ(KeyEventLine(string("\0,1", 3)), "");
}

TEST(KeypadAccess, TheOriginMustBeThePagesOwnAddress)
{
    EXPECT_TRUE(IsPagesOrigin("http://192.168.1.5:8731", "192.168.1.5:8731", 8731));
    EXPECT_TRUE(IsPagesOrigin("http://localhost:8731", "localhost:8731", 8731));
    EXPECT_TRUE(IsPagesOrigin("http://[fe80::1]:8731", "[fe80::1]:8731", 8731));
    EXPECT_FALSE(IsPagesOrigin("http://evil.example:8731", "evil.example:8731", 8731));
    EXPECT_FALSE(IsPagesOrigin("http://evil.example", "192.168.1.5:8731", 8731));
    EXPECT_FALSE(IsPagesOrigin("http://192.168.1.5:8732", "192.168.1.5:8732", 8731));
    EXPECT_FALSE(IsPagesOrigin("", "192.168.1.5:8731", 8731));
    EXPECT_FALSE(IsPagesOrigin("https://192.168.1.5:8731", "192.168.1.5:8731", 8731));
}

const string KEY = "0123456789abcdef0123456789abcdef";

// Each test program its own port, so that the programs may run side by side.
uint16_t TestPort()
{
    return static_cast<uint16_t>(20000 + GetCurrentProcessId() % 20000);
}

// A client socket whose reads give up after a while instead of hanging the test.
void Connect(tcp::socket& socket, uint16_t port)
{
    socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    const DWORD ms = 15000;
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

struct PageClient {
    net::io_context ioc;
    websocket::stream<tcp::socket> ws{ioc};
    // The handshake with the page's own Origin unless told another.
    bool Open(uint16_t port, const string& origin = "")
    {
        const string host = "127.0.0.1:" + std::to_string(port);
        const string from = origin.empty() ? "http://" + host : origin;
        beast::error_code e;
        Connect(ws.next_layer(), port);
        ws.set_option(websocket::stream_base::decorator(
            [from](websocket::request_type& r) { r.set(http::field::origin, from); }));
        ws.handshake(host, "/keys", e);
        return !e;
    }
    bool Send(const string& text)
    {
        beast::error_code e;
        ws.text(true);
        ws.write(net::buffer(text), e);
        return !e;
    }
    // The next message, or "" with the error that ended the page.
    string Read(beast::error_code& e)
    {
        beast::flat_buffer b;
        ws.read(b, e);
        return e ? "" : beast::buffers_to_string(b.data());
    }
    bool Keyed(const string& key = KEY)
    {
        beast::error_code e;
        return Send(key) && Read(e) == "ok";
    }
};

// What an HTTP client gets for raw bytes: the status line, or "" when the
// connection was closed unanswered.
string Answer(uint16_t port, const string& bytes)
{
    net::io_context ioc;
    tcp::socket socket(ioc);
    Connect(socket, port);
    beast::error_code e;
    net::write(socket, net::buffer(bytes), e);
    char reply[256] = "";
    const size_t got = socket.read_some(net::buffer(reply, sizeof reply - 1), e);
    const string text(reply, got);
    return text.substr(0, text.find("\r\n"));
}

struct KeypadServer : ::testing::Test {
    const uint16_t port = TestPort();
    void SetUp() override
    {
        string line, why;
        while (TakeKeypadLine(line)) {
        }
        SetKeypadTaker();
        ASSERT_TRUE(StartKeypad(port, KEY, {{"/", "text/html", "<p>keypad</p>"}}, why)) << why;
    }
    void TearDown() override
    {
        StopKeypad();
        ForgetKeypadTaker();
    }
    // The lines queued within the time, count at most.
    std::vector<string> Lines(size_t count, DWORD ms = 5000)
    {
        std::vector<string> lines;
        string line;
        const DWORD start = GetTickCount();
        while (lines.size() < count && GetTickCount() - start < ms) {
            if (TakeKeypadLine(line))
                lines.push_back(line);
            else
                Sleep(5);
        }
        return lines;
    }
};

TEST_F(KeypadServer, APagesKeysArePhoneLinesAndWhatItHoldsIsReleasedWhenItGoes)
{
    PageClient page;
    ASSERT_TRUE(page.Open(port));
    ASSERT_TRUE(page.Keyed());
    EXPECT_EQ(KeypadPages(), 1u);
    for (const char* event : {"5,1", "6,1", "5,0", "6,1"}) page.Send(event);
    // The second press of a key already down is not a phone's.
    EXPECT_EQ(Lines(3), (std::vector<string>{"+CKEV: 5,1", "+CKEV: 6,1", "+CKEV: 5,0"}));
    // The page vanishes without a word (a phone out of range): key 6 comes up.
    page.ws.next_layer().close();
    EXPECT_EQ(Lines(1), std::vector<string>{"+CKEV: 6,0"});
    EXPECT_TRUE(WaitFor([] { return KeypadPages() == 0; }, 5000));
}

TEST_F(KeypadServer, APageWithoutTheRightKeyGetsNothingDone)
{
    beast::error_code e;
    for (const string& wrong : {KEY.substr(0, 31), KEY + "0", string("5,1"), string(32, 'f'), string()}) {
        PageClient page;
        ASSERT_TRUE(page.Open(port));
        page.Send(wrong);
        page.Send("5,1");
        EXPECT_EQ(page.Read(e), "") << wrong;
        EXPECT_EQ(page.ws.reason().code, 4001) << wrong;
    }
    // A foreign page's script (another Origin) is refused at the handshake.
    PageClient foreign;
    EXPECT_FALSE(foreign.Open(port, "http://evil.example:" + std::to_string(port)));
    // Text that is no key event ends even a keyed page.
    PageClient talker;
    ASSERT_TRUE(talker.Open(port));
    ASSERT_TRUE(talker.Keyed());
    talker.Send("Z,1");
    EXPECT_EQ(talker.Read(e), "");
    EXPECT_TRUE(Lines(1, 500).empty());
}

TEST_F(KeypadServer, FilesAreServedAndOversizeRequestsAndMessagesDropped)
{
    EXPECT_EQ(Answer(port, "GET / HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 200 OK");
    EXPECT_EQ(Answer(port, "GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Answer(port, "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\nx"), "");
    EXPECT_EQ(Answer(port, "GET /" + string(1 << 20, 'a') + " HTTP/1.1\r\n\r\n"), "");
    string fields;
    for (int i = 0; i < 5000; ++i) fields += "X-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(Answer(port, "GET / HTTP/1.1\r\n" + fields + "\r\n"), "");
    string many;
    for (size_t i = 0; i <= KEYPAD_FIELD_LIMIT; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(Answer(port, "GET / HTTP/1.1\r\n" + many + "\r\n"), "HTTP/1.1 431 Request Header Fields Too Large");

    PageClient page;
    ASSERT_TRUE(page.Open(port));
    ASSERT_TRUE(page.Keyed());
    page.Send(string(1 << 20, '5'));
    beast::error_code e;
    EXPECT_EQ(page.Read(e), "");
    EXPECT_TRUE(Lines(1, 500).empty());
}

TEST_F(KeypadServer, AtMostFourPagesAndIdleOrSurplusConnectionsAreDropped)
{
    std::vector<std::unique_ptr<PageClient>> pages;
    for (unsigned i = 0; i < KEYPAD_PAGE_LIMIT; ++i) {
        pages.emplace_back(new PageClient);
        ASSERT_TRUE(pages.back()->Open(port));
    }
    PageClient fifth;
    EXPECT_FALSE(fifth.Open(port));
    pages.clear();
    ASSERT_TRUE(WaitFor([] { return KeypadPages() == 0; }, 5000));

    // A hundred connections that send nothing: the surplus is closed at
    // once, the rest when their time runs out; then a page works again.
    net::io_context ioc;
    std::vector<std::unique_ptr<tcp::socket>> idle;
    for (int i = 0; i < 100; ++i) {
        idle.emplace_back(new tcp::socket(ioc));
        Connect(*idle.back(), port);
    }
    char byte;
    beast::error_code e;
    const DWORD start = GetTickCount();
    for (auto& s : idle) s->read_some(net::buffer(&byte, 1), e);
    EXPECT_LT(GetTickCount() - start, (KEYPAD_REQUEST_SECONDS + 10) * 1000u);
    PageClient later;
    ASSERT_TRUE(later.Open(port));
    EXPECT_TRUE(later.Keyed());
}

TEST_F(KeypadServer, AFloodWaitsInOrderWithinItsBound)
{
    PageClient page;
    ASSERT_TRUE(page.Open(port));
    ASSERT_TRUE(page.Keyed());
    const int presses = 500;
    for (int i = 0; i < presses; ++i) {
        page.Send("5,1");
        page.Send("5,0");
    }
    EXPECT_TRUE(WaitFor([] { return KeypadLinesWaiting() == KEYPAD_LINE_LIMIT; }, 5000));
    Sleep(200);
    EXPECT_EQ(KeypadLinesWaiting(), KEYPAD_LINE_LIMIT);
    const std::vector<string> lines = Lines(2 * presses, 30000);
    ASSERT_EQ(lines.size(), 2u * presses);
    for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], i % 2 ? "+CKEV: 5,0" : "+CKEV: 5,1") << i;
}

TEST_F(KeypadServer, ANewKeyDropsEveryPageAndOnlyItOpensOne)
{
    PageClient page;
    ASSERT_TRUE(page.Open(port));
    ASSERT_TRUE(page.Keyed());
    page.Send("8,1");
    ASSERT_EQ(Lines(1), std::vector<string>{"+CKEV: 8,1"});
    const string renewed = "fedcba9876543210fedcba9876543210";
    ChangeKeypadKey(renewed);
    beast::error_code e;
    EXPECT_EQ(page.Read(e), "");
    EXPECT_EQ(Lines(1), std::vector<string>{"+CKEV: 8,0"});
    PageClient old, fresh;
    ASSERT_TRUE(old.Open(port));
    EXPECT_FALSE(old.Keyed());
    ASSERT_TRUE(fresh.Open(port));
    EXPECT_TRUE(fresh.Keyed(renewed));
}

TEST(KeypadPort, APortAnotherProgramHoldsIsNamed)
{
    net::io_context ioc;
    tcp::acceptor other(ioc, tcp::endpoint(tcp::v4(), 0));
    const uint16_t port = other.local_endpoint().port();
    string why;
    EXPECT_FALSE(StartKeypad(port, KEY, {}, why));
    EXPECT_EQ(why, "port " + std::to_string(port) + " is in use by another program");
    EXPECT_FALSE(KeypadRunning());
}

// The real quorvix.exe under Wine with a pty as its phone's port.
struct KeypadProgram : ::testing::Test {
    TempDir dir;
    PtyPair pty{dir};
    HWND player = nullptr;
    QuorvixRun run;
    const uint16_t port = TestPort();

    void SetUp() override
    {
        player = CreatePlayerWindow();
        PlayerMessages.clear();
        ASSERT_TRUE(pty.Start());
    }
    void TearDown() override
    {
        run.Close(5000);
        DestroyWindow(player);
    }
    string Settings(const string& keypad, const string& commands = "")
    {
        return "[Settings]\r\nPort=" + pty.pcPath + "\r\n" + keypad + "[Commands]\r\n" + commands;
    }
    string Keypad(uint16_t on, const string& key = KEY)
    {
        return "KeypadPort=" + std::to_string(on) + "\r\nKeypadKey=" + key + "\r\n";
    }
    // The settings file's value of a [Settings] key, as the program reads it.
    string Setting(const string& name)
    {
        char value[256] = "";
        GetPrivateProfileStringA("Settings", name.c_str(), "", value, sizeof value, dir.Win("quorvix.ini").c_str());
        return value;
    }
};

const string INIT = "ATZ\r\nAT+CMER=3,2\r\n\r\n";

bool Listens(uint16_t port)
{
    net::io_context ioc;
    tcp::socket socket(ioc);
    beast::error_code e;
    socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), e);
    return !e;
}

// Off means no socket at all; on, a page's key press runs the command the
// phone's would, and a port that another program holds is said while the
// serial link goes on.
TEST_F(KeypadProgram, OffOpensNoSocketOnRunsKeysAndATakenPortIsSaid)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(run.Start(dir.Win(), Settings("KeypadPort=0\r\n")));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    EXPECT_FALSE(Listens(KEYPAD_DEFAULT_PORT));
    EXPECT_FALSE(Listens(port));
    run.Close(5000);

    ASSERT_TRUE(run.Start(dir.Win(), Settings(Keypad(port), "CKEV: 5=WINAMP,40045\r\n")));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    ASSERT_TRUE(WaitFor([&] { return Listens(port); }, 5000));
    PageClient page;
    ASSERT_TRUE(page.Open(port));
    ASSERT_TRUE(page.Keyed());
    page.Send("5,1");
    page.Send("5,0");
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 1; }, 5000));
    WaitFor([] { return false; }, 300);
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>{40045});
    page.ws.next_layer().close();
    run.Close(5000);

    net::io_context ioc;
    tcp::acceptor other(ioc, tcp::endpoint(tcp::v4(), port));
    ASSERT_TRUE(run.Start(dir.Win(), Settings(Keypad(port))));
    HWND box = nullptr;
    string text;
    WaitFor([&] {
        box = FindWindowA(nullptr, "Error");
        text = box ? ErrorBoxText(box) : string();
        return !text.empty();
    }, 10000);
    EXPECT_EQ(text, "Failed to open the keypad page: port " + std::to_string(port) +
                        " is in use by another program. The phone on the serial port works as before.");
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    if (box) PostMessageA(box, WM_CLOSE, 0, 0);
}

// The menu's item turns the page on with the default port and a new key in
// the settings file; "New key" in the pairing window drops every page and
// only the new key opens one.
TEST_F(KeypadProgram, TheMenuItemTurnsItOnAndNewKeyTakesThePageAway)
{
    ASSERT_TRUE(run.Start(dir.Win(), Settings("")));
    HWND program = FindWindowA("Quorvix", nullptr);
    PostMessageA(program, WM_COMMAND, IDM_KEYPAD, 0);
    HWND pairing = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (pairing = FindWindowA("QuorvixPairing", nullptr)) != nullptr; }, 10000));
    EXPECT_EQ(Setting("KeypadPort"), std::to_string(KEYPAD_DEFAULT_PORT));
    const string key = Setting("KeypadKey");
    ASSERT_EQ(key.size(), 32u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), string::npos);
    PageClient page;
    ASSERT_TRUE(page.Open(KEYPAD_DEFAULT_PORT));
    ASSERT_TRUE(page.Keyed(key));

    HWND newKey = FindWindowExA(pairing, nullptr, "Button", "New key");
    ASSERT_NE(newKey, nullptr);
    PostMessageA(newKey, BM_CLICK, 0, 0);
    beast::error_code e;
    EXPECT_EQ(page.Read(e), "");
    ASSERT_TRUE(WaitFor([&] { return Setting("KeypadKey") != key; }, 5000));
    const string renewed = Setting("KeypadKey");
    EXPECT_EQ(renewed.size(), 32u);
    PageClient old, fresh;
    ASSERT_TRUE(old.Open(KEYPAD_DEFAULT_PORT));
    EXPECT_FALSE(old.Keyed(key));
    ASSERT_TRUE(fresh.Open(KEYPAD_DEFAULT_PORT));
    EXPECT_TRUE(fresh.Keyed(renewed));
}

bool Reached(const TempDir& dir, const string& step, DWORD ms)
{
    return WaitFor([&] { return FileExists(dir.Win(step)); }, ms);
}

LONG CursorX()
{
    POINT at = {0, 0};
    GetCursorPos(&at);
    return at.x;
}

// Two cursor readings apart in time agree: nothing moves it any more.
bool CursorStill(DWORD withinMs)
{
    return WaitFor([] {
        const LONG before = CursorX();
        WaitFor([] { return false; }, 400);
        return CursorX() == before;
    }, withinMs);
}

// A real browser with a phone's screen taps and holds keys with touches.
TEST_F(KeypadProgram, ABrowsersTouchesPressHoldAndReleaseKeys)
{
    PhoneEnd phone(pty.phonePath);
    ASSERT_TRUE(run.Start(dir.Win(), Settings(Keypad(port), "CKEV: 5=WINAMP,40045\r\nCKEV: 6=MOUSEMOVE,X,1\r\n")));
    EXPECT_EQ(phone.ReadAtLeast(20, 10000), INIT);
    SetCursorPos(100, 300);
    const string url = "http://127.0.0.1:" + std::to_string(port) + "/#" + KEY;
    ChildProcess browser;
    ASSERT_TRUE(browser.Start("Z:\\bin\\sh -c \"env -u LD_PRELOAD python3 " KEYPAD_BROWSER " '" + url + "' " +
                              dir.Unix() + " 5 6 > " + dir.Unix("browser.log") + " 2>&1; echo $? > " +
                              dir.Unix("browser.exit") + "\""));
    ASSERT_TRUE(Reached(dir, "connected", 90000)) << ReadBytes(dir.Win("browser.log"));
    ASSERT_TRUE(Reached(dir, "tapped", 30000)) << ReadBytes(dir.Win("browser.log"));
    EXPECT_TRUE(WaitFor([] { return PlayerMessages.size() >= 1; }, 5000));
    ASSERT_TRUE(Reached(dir, "holding", 30000));
    const LONG held = CursorX();
    ASSERT_TRUE(Reached(dir, "released", 30000));
    EXPECT_GT(CursorX(), held + 10) << "the held key did not move the cursor";
    EXPECT_TRUE(CursorStill(3000)) << "the cursor went on after the touch ended";
    EXPECT_EQ(PlayerCommands(), std::vector<WPARAM>{40045}) << "one tap, one command";
    ASSERT_TRUE(Reached(dir, "holding-again", 30000));
    const LONG again = CursorX();
    ASSERT_TRUE(Reached(dir, "closed", 30000));
    EXPECT_GT(CursorX(), again + 10);
    EXPECT_TRUE(CursorStill(5000)) << "closing the tab left the key held";
    // Wine gives no handle to wait on for a Linux program: its exit code is in a file.
    ASSERT_TRUE(Reached(dir, "browser.exit", 30000));
    EXPECT_EQ(ReadBytes(dir.Win("browser.exit")), "0\n") << ReadBytes(dir.Win("browser.log"));
}

} // namespace
