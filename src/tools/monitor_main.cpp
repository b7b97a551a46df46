// quorvix-monitor: shows what the phone sends for each key, and which
// Commands entries each press would run, without running them. With --find
// it asks every serial port whether a phone answers; with --learn it gives
// the key name of each key that has no command yet. --write puts what they
// found into the settings file.
#include <windows.h>

#include <cstdio>
#include <string>

#include "../keys/keys.h"
#include "../link/link.h"
#include "../util/ini_file.h"
#include "../util/program_folder.h"
#include "../util/settings_file.h"
#include "../util/system_dll.h"
#include "../util/text.h"
#include "console_port.h"
#include "monitor_commands.h"

namespace {

HANDLE StopEvent = nullptr;
// The program's settings, with the port given on the command line instead.
Settings Monitored;

BOOL WINAPI StopOnCtrlC(DWORD)
{
    SetEvent(StopEvent);
    return TRUE;
}

void PrintLine(const std::string& line)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    const bool press = IsKeyPress(line);
    const bool release = IsKeyRelease(line);
    std::printf("%02u:%02u:%02u.%03u  %s%s%s\n", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                Printable(line).c_str(), press ? "   [press]" : "", release ? "   [release]" : "");
    if (press) {
        bool any = false;
        // The same match as the program's.
        for (const std::string& key : Monitored.CommandTable)
            if (LineNamesKey(line, key)) {
                any = true;
                std::printf("    runs %s = %s\n", Printable(key).c_str(),
                            Printable(ReadIniString("Commands", key, "", Monitored.IniPath)).c_str());
            }
        if (!any) std::printf("    no Commands key matches this line\n");
    }
    std::fflush(stdout);
}

// What each complete line is shown as: the monitor's view or --learn's.
void (*ShowLine)(const std::string&) = PrintLine;

// Shows every complete line; the tail stays until its end comes or the
// phone is quiet (flush).
void PrintLines(std::string& pending, bool flush)
{
    std::string line;
    while (TakeLineFrom(pending, flush, line))
        if (!line.empty()) ShowLine(line);
}

// Wakes in a row that bring nothing (no byte, no drained send) before the
// port counts as gone: a vanished device may complete every wait at once.
const int EMPTY_WAKE_LIMIT = 50;

// Listens on an open port until Ctrl+C (true) or until the port stops
// answering (false, with the reason in why).
bool Listen(HANDLE port, std::string& pending, std::string& why)
{
    OVERLAPPED o;
    ZeroMemory(&o, sizeof o);
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD ping = static_cast<DWORD>(Monitored.PingInterval);
    DWORD lastPing = GetTickCount();
    bool waiting = false;
    bool stopped = false;
    int emptyWakes = 0;
    DWORD mask = 0;
    for (;;) {
        if (!waiting) {
            mask = 0;
            ResetEvent(o.hEvent);
            if (!WaitCommEvent(port, &mask, &o)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    why = "waiting on it failed: " + SystemMessage(GetLastError());
                    break;
                }
            } else {
                SetEvent(o.hEvent);
            }
            waiting = true;
        }
        // A line without its end is shown once the phone has been quiet a moment.
        const DWORD sincePing = GetTickCount() - lastPing;
        DWORD timeout = sincePing >= ping ? 0 : ping - sincePing;
        if (!pending.empty() && timeout > LINE_TAIL_WAIT) timeout = LINE_TAIL_WAIT;
        HANDLE both[2] = {StopEvent, o.hEvent};
        const DWORD woke = WaitForMultipleObjects(2, both, FALSE, timeout);
        if (woke == WAIT_OBJECT_0) {
            stopped = true;
            break;
        }
        if (woke == WAIT_TIMEOUT) {
            PrintLines(pending, true);
            if (GetTickCount() - lastPing >= ping) {
                // The phone keeps reporting only while it hears from us.
                if (!Send(port, Monitored.PhoneInitString)) {
                    why = "a keep-alive could not be sent: " + SystemMessage(GetLastError());
                    break;
                }
                lastPing = GetTickCount();
            }
            continue;
        }
        DWORD unused = 0;
        const bool waited = GetOverlappedResult(port, &o, &unused, FALSE) != 0;
        waiting = false;
        if (!waited) {
            // A failed wait alone proves nothing (Wine fails every wait on a
            // pty that answers no modem-line queries); a failed read does.
            if (!ReadSome(port, o.hEvent, 1, pending)) {
                why = "reading it failed: " + SystemMessage(GetLastError());
                break;
            }
            PrintLines(pending, false);
            Sleep(10);
            continue;
        }
        DWORD errors = 0;
        COMSTAT status;
        ZeroMemory(&status, sizeof status);
        if (!ClearCommError(port, &errors, &status)) {
            why = "its state cannot be read: " + SystemMessage(GetLastError());
            break;
        }
        if (status.cbInQue == 0) {
            if (mask & EV_TXEMPTY) {
                emptyWakes = 0;
            } else if (++emptyWakes >= EMPTY_WAKE_LIMIT) {
                why = "it signals without sending anything";
                break;
            }
            // Wakes without bytes must not spin.
            Sleep(10);
            continue;
        }
        emptyWakes = 0;
        if (!ReadSome(port, o.hEvent, status.cbInQue, pending)) {
            why = "reading it failed: " + SystemMessage(GetLastError());
            break;
        }
        PrintLines(pending, false);
    }
    // Nothing may still write into o once it is gone. Clearing the mask
    // completes the pending wait; CancelIo alone may leave it in flight.
    if (waiting) {
        SetCommMask(port, 0);
        CancelIo(port);
        DWORD unused = 0;
        GetOverlappedResult(port, &o, &unused, TRUE);
    }
    CloseHandle(o.hEvent);
    return stopped;
}

void SendInit(HANDLE port)
{
    if (!Send(port, Monitored.PhoneInitString))
        std::fprintf(stderr, "Sending the init string to %s failed: %s\n",
                     Monitored.PortName.c_str(), SystemMessage(GetLastError()).c_str());
}

// Listens until Ctrl+C; a port that stops answering (the phone switched off,
// a Bluetooth link dropped) is said at once and opened again about once a
// second until it is back. 0, or 2 when it ended with the port lost.
int Monitor(HANDLE port)
{
    std::string pending;
    for (;;) {
        std::string why;
        const bool stopped = Listen(port, pending, why);
        CloseHandle(port);
        PrintLines(pending, true);
        if (stopped) return 0;
        std::fprintf(stderr, "%s stopped answering (%s); trying to open it again every second.\n",
                     Monitored.PortName.c_str(), why.c_str());
        std::fflush(stderr);
        for (;;) {
            if (WaitForSingleObject(StopEvent, 1000) == WAIT_OBJECT_0) {
                std::fprintf(stderr, "%s was not back.\n", Monitored.PortName.c_str());
                return 2;
            }
            port = OpenToolPort(Monitored.PortName);
            if (port != INVALID_HANDLE_VALUE) break;
        }
        std::printf("%s is back.\n", Monitored.PortName.c_str());
        std::fflush(stdout);
        SendInit(port);
    }
}

int Usage()
{
    std::fprintf(stderr, "usage: quorvix-monitor [port]\n"
                         "       quorvix-monitor --find [--write]\n"
                         "       quorvix-monitor --learn [--write] [port]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    LoadDllsFromSystemOnly();
    bool find = false, learn = false, write = false;
    std::string port;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--find") find = true;
        else if (a == "--learn") learn = true;
        else if (a == "--write") write = true;
        else if (a.compare(0, 2, "--") == 0 || !port.empty()) return Usage();
        else port = a;
    }
    if ((find && (learn || !port.empty())) || (write && !find && !learn)) return Usage();
    // The program's own settings: the same port, init string and keys.
    std::string settings;
    if (!ProgramSettingsPath(settings)) {
        std::fprintf(stderr, "%s\n", SETTINGS_UNREACHABLE);
        return 2;
    }
    Monitored = LoadSettingsFrom(settings);
    if (find) return FindPhone(Monitored, write);
    if (!port.empty()) Monitored.PortName = port;
    if (learn) {
        ShowLine = [](const std::string& line) { LearnLine(Monitored, line); };
        if (write && GetFileAttributesA(settings.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::fprintf(stderr,
                         "%s does not exist yet: quorvix-monitor --find --write makes it.\n",
                         settings.c_str());
            return 2;
        }
    }

    HANDLE opened = OpenToolPort(Monitored.PortName);
    if (opened == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "Cannot open %s: %s\n", Monitored.PortName.c_str(),
                     SystemMessage(GetLastError()).c_str());
        return 2;
    }
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(StopOnCtrlC, TRUE);
    const size_t keys = Monitored.CommandTable.size();
    std::printf("%s on %s (%u key%s from %s). Press phone keys; Ctrl+C ends.\n",
                learn ? "Learning keys" : "Listening", Monitored.PortName.c_str(),
                static_cast<unsigned>(keys), keys == 1 ? "" : "s", Monitored.IniPath.c_str());
    std::fflush(stdout);
    SendInit(opened);
    int result = Monitor(opened);
    CloseHandle(StopEvent);
    std::printf("Closed %s.\n", Monitored.PortName.c_str());
    if (learn) result = FinishLearning(Monitored, write, result);
    return result;
}
