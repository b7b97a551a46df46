// quorvix-monitor: shows what the phone sends for each key, and which
// Commands entries each press would run, without running them. With --find
// it asks every serial port whether a phone answers; with --learn it gives
// the key name of each key that has no command yet. --write puts what they
// found into the settings file.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "../../keys/command_choice.h"
#include "../../keys/keys.h"
#include "../../link/link.h"
#include "../../settings/ini_file.h"
#include "../../util/program_folder.h"
#include "../../settings/settings_file.h"
#include "../../util/system_dll.h"
#include "../../util/system_message.h"
#include "../../util/text.h"
#include "../console_port.h"
#include "../console_stop.h"
#include "../console_text.h"
#include "monitor_commands.h"

namespace {

// The program's settings, with the port given on the command line instead.
Settings Monitored;

void PrintLine(const std::string& line)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    const bool press = IsKeyPress(line);
    const bool release = IsKeyRelease(line);
    Say(stdout, "%02u:%02u:%02u.%03u  %s%s%s\n", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
        Printable(line).c_str(), press ? "   [press]" : "", release ? "   [release]" : "");
    if (press) {
        // The same choice as the program's, with the program in the foreground now.
        const bool programs = !Monitored.ProgramSections.empty();
        const std::string foreground = ProgramForChoice(Monitored);
        const std::vector<ChosenCommand> chosen = CommandsForPress(line, Monitored, foreground);
        if (programs)
            Say(stdout, "    in the foreground: %s\n",
                foreground.empty() ? "no program that can be named" : foreground.c_str());
        for (const ChosenCommand& c : chosen)
            Say(stdout, "    runs %s%s = %s\n", programs ? ("[" + c.Section + "] ").c_str() : "",
                Printable(c.Key).c_str(),
                Printable(ReadIniString(c.Section, c.Key, "", Monitored.IniPath)).c_str());
        if (chosen.empty()) Say(stdout, "    no Commands key matches this line\n");
    }
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
// answering (false, with the reason in why). Its rule differs from the
// program's reader on purpose: one thread waits for Ctrl+C, the keep-alive
// and the port at once, and a port is given up when it fails, not after
// SILENCE_LIMIT of silence, since whoever watches wants to see the reason at once.
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
        HANDLE both[2] = {ConsoleStopEvent(), o.hEvent};
        const DWORD woke = WaitForMultipleObjects(2, both, FALSE, timeout);
        if (woke == WAIT_OBJECT_0) {
            stopped = true;
            break;
        }
        if (woke == WAIT_TIMEOUT) {
            PrintLines(pending, true);
            if (GetTickCount() - lastPing >= ping) {
                // The phone keeps reporting only while it hears from us.
                if (!SendLineBounded(port, Monitored.PhoneInitString)) {
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
        DWORD queued = 0;
        if (!CountQueued(port, queued)) {
            why = "its state cannot be read: " + SystemMessage(GetLastError());
            break;
        }
        if (queued == 0) {
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
        if (!ReadSome(port, o.hEvent, queued, pending)) {
            why = "reading it failed: " + SystemMessage(GetLastError());
            break;
        }
        PrintLines(pending, false);
    }
    // Nothing may still write into o once it is gone.
    if (waiting) {
        EndPendingWait(port, o.hEvent);
        DWORD unused = 0;
        GetOverlappedResult(port, &o, &unused, TRUE);
    }
    CloseHandle(o.hEvent);
    return stopped;
}

void SendInit(HANDLE port)
{
    if (!SendLineBounded(port, Monitored.PhoneInitString))
        Say(stderr, "Sending the init string to %s failed: %s\n",
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
        Say(stderr, "%s stopped answering (%s); trying to open it again every second.\n",
            Monitored.PortName.c_str(), why.c_str());
        for (;;) {
            if (WaitForSingleObject(ConsoleStopEvent(), 1000) == WAIT_OBJECT_0) {
                Say(stderr, "%s was not back.\n", Monitored.PortName.c_str());
                return 2;
            }
            std::string refused;
            port = OpenToolPortUnlessStopped(Monitored.PortName, ConsoleStopEvent(), refused);
            if (port != INVALID_HANDLE_VALUE) break;
        }
        Say(stdout, "%s is back.\n", Monitored.PortName.c_str());
        SendInit(port);
    }
}

int Usage()
{
    Say(stderr, "usage: quorvix-monitor [--settings FILE] [port]\n"
        "       quorvix-monitor --find [--all] [--write] [--settings FILE]\n"
        "       quorvix-monitor --learn [--write] [--for PROGRAM.EXE] [--settings FILE] [port]\n");
    return 2;
}

// The settings file named on the command line, in full: the profile calls
// look for a bare name in the Windows folder.
bool FullPath(const std::string& name, std::string& path)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(name.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return false;
    path.assign(full, length);
    return true;
}

// --for's name as the user typed it: from the wide command line, since the
// ANSI one has '?' for a letter outside the code page. In UTF-8 (for a
// Unicode settings file and the console), and in the ANSI code page, as the
// program reads section names ("" where that cannot spell it).
bool ProgramAsTyped(std::string& utf8, std::string& ansi)
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!args) return false;
    bool found = false;
    for (int i = 1; i + 1 < count && !found; ++i) {
        if (lstrcmpW(args[i], L"--for") != 0) continue;
        const wchar_t* name = args[i + 1];
        const int length = lstrlenW(name);
        found = ToCodePage(CP_UTF8, name, length, utf8);
        if (!ToCodePage(CP_ACP, name, length, ansi)) ansi.clear();
    }
    LocalFree(args);
    return found;
}

} // namespace

int main(int argc, char** argv)
{
    LoadDllsFromSystemOnly();
    bool find = false, learn = false, write = false, all = false;
    std::string port, named, program;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--find") find = true;
        else if (a == "--learn") learn = true;
        else if (a == "--write") write = true;
        else if (a == "--all") all = true;
        else if (a == "--settings" && i + 1 < argc && named.empty()) named = argv[++i];
        else if (a == "--for" && i + 1 < argc && program.empty()) program = argv[++i];
        else if (a.compare(0, 2, "--") == 0 || !port.empty()) return Usage();
        else port = a;
    }
    if ((find && (learn || !port.empty())) || (write && !find && !learn) || (all && !find) ||
        (!program.empty() && !learn))
        return Usage();
    if (!program.empty()) {
        std::string utf8, ansi;
        if (!ProgramAsTyped(utf8, ansi)) return Usage();
        if (ansi.empty()) {
            SayIn(CP_UTF8, stderr, "--for %s: this system's code page cannot spell that name, so "
                  "the program could never match its section.\n", utf8.c_str());
            return 2;
        }
        if (const char* fault = ProgramNameFault(ansi)) {
            SayIn(CP_UTF8, stderr, "--for %s: that name %s (e.g. POWERPNT.EXE).\n", utf8.c_str(),
                  fault);
            return 2;
        }
        LearnInto(PROGRAM_SECTION_PREFIX + ansi, PROGRAM_SECTION_PREFIX + utf8);
    }
    // The program's own settings (or the file named): the same port, init
    // string and keys. A renamed program reads the file of its own name.
    std::string settings;
    if (!named.empty()) {
        if (!FullPath(named, settings)) {
            Say(stderr, "%s: no such path can be used.\n", named.c_str());
            return 2;
        }
    } else if (!QuorvixIniPath(settings)) {
        Say(stderr, "%s\n", SettingsUnreachable().c_str());
        return 2;
    }
    Monitored = LoadSettingsFrom(settings);
    if (!WatchConsoleStop()) {
        Say(stderr, "Ctrl+C cannot be caught: %s\n", SystemMessage(GetLastError()).c_str());
        return 2;
    }
    if (find) {
        Say(stdout, "Settings: %s\n", settings.c_str());
        const int found = FindPhone(Monitored, write, all, ConsoleStopEvent());
        ConsoleWorkSaved();
        return found;
    }
    if (!port.empty()) Monitored.PortName = port;
    if (learn) {
        ShowLine = [](const std::string& line) { LearnLine(Monitored, line); };
        if (write && GetFileAttributesA(settings.c_str()) == INVALID_FILE_ATTRIBUTES) {
            Say(stderr, "%s does not exist yet: quorvix-monitor --find --write makes it.\n",
                settings.c_str());
            return 2;
        }
    }

    std::string refused;
    HANDLE opened = OpenToolPortUnlessStopped(Monitored.PortName, ConsoleStopEvent(), refused);
    if (opened == INVALID_HANDLE_VALUE) {
        Say(stderr, "Cannot open %s: %s\n", Monitored.PortName.c_str(),
            SystemMessage(GetLastError()).c_str());
        return 2;
    }
    if (!refused.empty())
        Say(stderr, "Warning: %s %s; listening all the same.\n", Monitored.PortName.c_str(),
            refused.c_str());
    const size_t keys = Monitored.CommandTable.size();
    Say(stdout, "%s on %s (%u key%s from %s). Press phone keys; Ctrl+C ends.\n",
        learn ? "Learning keys" : "Listening", Monitored.PortName.c_str(),
        static_cast<unsigned>(keys), keys == 1 ? "" : "s", Monitored.IniPath.c_str());
    SendInit(opened);
    int result = Monitor(opened);
    // Closing the console window waits for this: the learned keys are written first.
    if (learn) result = FinishLearning(Monitored, write, result);
    Say(stdout, "Closed %s.\n", Monitored.PortName.c_str());
    ConsoleWorkSaved();
    return result;
}
