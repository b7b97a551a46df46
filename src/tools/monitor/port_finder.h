#pragma once
// quorvix-monitor --find: which serial port the phone answers on. Each port
// is asked in turn, on a thread of its own, so that a port whose open or
// write hangs costs its time limit and no more. Main thread.

#include <windows.h>

#include <string>
#include <vector>

enum class PortAnswer {
    Absent,     // no such port
    Busy,       // another program has it open
    Unopenable, // the system lists it, but it cannot be opened (detail: why)
    Unreachable, // a Bluetooth port whose phone did not come (detail: the system's words)
    Failed,     // it went away or failed while being asked (detail: why)
    Silent,     // no answer to AT
    Echo,       // sends back what it is sent, and no OK
    Garbled,    // answered AT, but not OK (detail: what it sent)
    Accepted,   // OK to AT and to each init command
    Refused,    // OK to AT, ERROR to an init command (detail: the command)
    Unanswered, // OK to AT, no answer to an init command (detail: the command)
    Hung,       // gave no result within PROBE_LIMIT
    Stopped,    // the user stopped the search while it was asked
};

struct PortProbe {
    std::string port;
    PortAnswer answer = PortAnswer::Absent;
    std::string detail;
    // Why the port refused its line settings, if it did (it was asked anyway).
    std::string refused;
};

// How long a port has to answer one command, and to give its whole result;
// how long a cancelled open then has to end.
const DWORD ANSWER_WAIT = 2000;
const DWORD PROBE_LIMIT = 9000;
const DWORD CANCEL_WAIT = 1000;

// The name a registry entry gives a port: up to its first character that is
// not a letter or digit (some Bluetooth drivers leave garbage after it).
std::string DeviceName(const std::string& registryName);
// The ports to ask: the system's list of serial devices (a Bluetooth port
// and a USB adapter have an entry there), its Bluetooth ports first, then
// every COM1 to COM256 not in it (ports mapped without an entry); listed:
// how many came from the system's list.
std::vector<std::string> PortsToAsk(size_t& listed);
// Opens the port with the program's line settings (a listed one in the
// device namespace) and sends AT; only after an OK, each init command in
// turn, until one is not answered OK. Nothing more is written to a port that
// did not answer OK. Within PROBE_LIMIT, and CANCEL_WAIT for a cancelled
// open; when stop is signalled first (Ctrl+C), the question is left to its
// thread at once and the answer is Stopped.
PortProbe AskPort(const std::string& port, bool listed,
                  const std::vector<std::string>& initCommands, HANDLE stop);
// Waits at most waitMs in all for the questions left inside the driver; the
// ports whose question has still not ended.
std::vector<std::string> PortsStillInTheDriver(DWORD waitMs);
// The items separated by ", ".
std::string ListOf(const std::vector<std::string>& items);
// The result as a line for the user (without the port's name).
std::string DescribeAnswer(const PortProbe& probe, const std::vector<std::string>& initCommands);
