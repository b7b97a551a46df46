#pragma once
// The keypad page: a second way in for key reports, from a phone's browser
// on the home network. quorvix.exe serves one page and takes its key
// presses over a WebSocket; each becomes the line a phone would send
// ("+CKEV: 5,1") and goes to the same key handling as the serial port's.
// The server runs on a thread of its own (StartKeypad to StopKeypad); the
// main thread takes the lines (TakeKeypadLine).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The page's port when the user turns the keypad on from the menu.
const uint16_t KEYPAD_DEFAULT_PORT = 8731;
// Pages connected at once; further ones are refused.
const unsigned KEYPAD_PAGE_LIMIT = 4;
// Sockets at once, pages and page loads together; further ones are closed
// before anything is read.
const unsigned KEYPAD_CONNECTION_LIMIT = 16;
// Lines waiting for the main thread. A page whose press finds it full waits
// before reading more; releases of a page that is gone always go in.
const size_t KEYPAD_LINE_LIMIT = 64;
// Bounds on what a client may send.
const size_t KEYPAD_REQUEST_LIMIT = 8 * 1024;
const size_t KEYPAD_FIELD_LIMIT = 64;
const size_t KEYPAD_MESSAGE_LIMIT = 64;
// Seconds: a page load, and a page's first message (its key).
const int KEYPAD_REQUEST_SECONDS = 10;
const int KEYPAD_KEY_SECONDS = 10;
// Seconds a page may stay silent (pings included) before it is dropped.
const int KEYPAD_IDLE_SECONDS = 10;
// The key names a page may send: those of a phone's keypad (3GPP TS 27.007):
// digits, * and #, the joystick ^ > < V and its centre S, volume U and D.
const char* const KEYPAD_KEY_NAMES = "0123456789*#^><VSUD";

// --- Who may connect and what a page may say (keypad_access.cpp); no
// state, any thread.

// Loopback, 10/8, 172.16/12, 192.168/16, 169.254/16, fc00::/7, fe80::/10
// (an IPv4 address mapped into IPv6 as the IPv4 one); false for anything
// that is no address.
bool IsHomeAddress(const std::string& address);
// Compared in time that does not depend on where they differ.
bool SameKeypadKey(const std::string& given, const std::string& expected);
// A page's message "NAME,1" or "NAME,0" as the phone's line
// "+CKEV: NAME,1"; "" for anything else.
std::string KeyEventLine(const std::string& message);
// The WebSocket's Origin is the page's own address: http:// and the Host
// the request was sent to, an address or localhost, at port.
bool IsPagesOrigin(const std::string& origin, const std::string& host, uint16_t port);

// --- The server (keypad_server.cpp). Start, stop and the key: main thread.

// A file the server hands out: its request path ("/"), type and bytes.
struct KeypadFile {
    std::string Path;
    std::string Type;
    std::string Body;
};
// Listens on port on every address of the PC and serves files; a page that
// sends key opens a keypad. False, with the reason, when the port cannot be
// had (another program's, or out of range).
bool StartKeypad(uint16_t port, const std::string& key, const std::vector<KeypadFile>& files,
                 std::string& why);
// A new key: every connected page is dropped, its held keys released.
void ChangeKeypadKey(const std::string& key);
// Closes every socket and ends the thread. Safe twice and when not started.
void StopKeypad();
bool KeypadRunning();
// Pages connected now (any thread; for the tests).
unsigned KeypadPages();

// --- The lines (keypad_lines.cpp): the server thread queues, the main
// thread takes, each holding the queue's lock for the access alone.

// The thread whose alertable pause a queued line ends (the one that takes
// them); set on that thread before the server starts.
void SetKeypadTaker();
void ForgetKeypadTaker();
// False, and nothing queued, when KEYPAD_LINE_LIMIT lines wait and the line
// is not a release that must go in regardless.
bool QueueKeypadLine(const std::string& line, bool evenIfFull);
bool TakeKeypadLine(std::string& line);
size_t KeypadLinesWaiting();
