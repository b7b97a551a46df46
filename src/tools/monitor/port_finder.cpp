#include "port_finder.h"

#include <cctype>
#include <memory>
#include <utility>

#include "../../link/bounded_call.h"
#include "../../link/line_split.h"
#include "../../link/serial_io.h"
#include "../../util/system_message.h"
#include "../../util/text.h"
#include "../console_port.h"
#include "../console_text.h"

namespace {

using std::string;

enum class Reply { Ok, Error, Echo, Other, None, Broken };

// Sends the command and collects the lines that come back within
// ANSWER_WAIT, until an OK or ERROR line. An echo of the command (a phone
// with echo on) is no answer of its own. Other lines go to heard.
Reply Exchange(HANDLE port, HANDLE event, const string& command, string& heard, string& why)
{
    heard.clear();
    if (!SendLineBounded(port, command)) {
        why = "a write failed: " + SystemMessage(GetLastError());
        return Reply::Broken;
    }
    string pending;
    bool echoed = false;
    const DWORD start = GetTickCount();
    for (bool last = false; !last;) {
        last = GetTickCount() - start >= ANSWER_WAIT;
        DWORD queued = 0;
        if (!CountQueued(port, queued) ||
            (queued > 0 && !ReadSome(port, event, queued, pending))) {
            why = "it failed while being asked: " + SystemMessage(GetLastError());
            return Reply::Broken;
        }
        string line;
        while (TakeLineFrom(pending, last, line)) {
            line = TrimBlanks(line);
            if (line == "OK") return Reply::Ok;
            if (line == "ERROR" || line.compare(0, 11, "+CME ERROR:") == 0) return Reply::Error;
            if (line == command) {
                echoed = true;
            } else if (!line.empty()) {
                heard += (heard.empty() ? "" : " | ") + line;
            }
        }
        if (!last) Sleep(50);
    }
    if (!heard.empty()) return Reply::Other;
    return echoed ? Reply::Echo : Reply::None;
}

PortProbe AskOpenPort(HANDLE port, const string& name, const std::vector<string>& initCommands)
{
    PortProbe probe;
    probe.port = name;
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    string heard;
    switch (Exchange(port, event, "AT", heard, probe.detail)) {
    case Reply::Ok: probe.answer = PortAnswer::Accepted; break;
    case Reply::Echo: probe.answer = PortAnswer::Echo; break;
    case Reply::None: probe.answer = PortAnswer::Silent; break;
    case Reply::Broken: probe.answer = PortAnswer::Failed; break;
    case Reply::Error:
    case Reply::Other:
        probe.answer = PortAnswer::Garbled;
        probe.detail = heard.empty() ? "ERROR" : heard;
        break;
    }
    for (size_t i = 0; probe.answer == PortAnswer::Accepted && i < initCommands.size(); ++i) {
        const Reply reply = Exchange(port, event, initCommands[i], heard, probe.detail);
        if (reply == Reply::Ok) continue;
        probe.answer = reply == Reply::Error    ? PortAnswer::Refused
                       : reply == Reply::Broken ? PortAnswer::Failed
                                                : PortAnswer::Unanswered;
        if (reply != Reply::Broken) probe.detail = initCommands[i];
    }
    CloseHandle(event);
    return probe;
}

PortProbe AskPortNow(const string& name, bool listed, const std::vector<string>& initCommands)
{
    std::string refused;
    const HANDLE port = OpenConfiguredPort(name, refused);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        PortProbe probe;
        probe.port = name;
        // Windows says "access denied" for a port another program has open; Wine may say
        // "sharing violation".
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            probe.answer = PortAnswer::Busy;
        // What a Bluetooth port gives when the stack could not reach the
        // phone (121 after seconds of trying), or when the open was cancelled.
        else if (PhoneUnreachable(error))
            probe.answer = PortAnswer::Unreachable;
        else if (listed || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
            probe.answer = PortAnswer::Unopenable;
        probe.detail = SystemMessage(error);
        return probe;
    }
    PortProbe probe = AskOpenPort(port, name, initCommands);
    probe.refused = refused;
    CloseHandle(port);
    return probe;
}

// Questions whose thread was still inside the driver at its limit. Main thread.
std::vector<std::pair<string, std::shared_ptr<BoundedCall>>> LeftQuestions;

} // namespace

string DeviceName(const string& registryName)
{
    const string name = TrimBlanks(registryName);
    size_t end = 0;
    while (end < name.size() && std::isalnum(static_cast<unsigned char>(name[end]))) ++end;
    return name.substr(0, end);
}

std::vector<string> PortsToAsk(size_t& listed)
{
    std::vector<string> bluetooth, others;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char name[256];
            char data[256];
            DWORD nameSize = sizeof name;
            DWORD dataSize = sizeof data - 1;
            DWORD type = 0;
            const LONG got = RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &dataSize);
            if (got == ERROR_NO_MORE_ITEMS) break;
            if (got != ERROR_SUCCESS || type != REG_SZ) continue;
            data[dataSize] = '\0';
            const string port = DeviceName(data);
            if (port.empty()) continue;
            // The value's name is the driver's device: \Device\BthModem0 for a Bluetooth port.
            const bool isBluetooth = string(name, nameSize).find("Bth") != string::npos ||
                                     string(name, nameSize).find("BTH") != string::npos;
            (isBluetooth ? bluetooth : others).push_back(port);
        }
        RegCloseKey(key);
    }
    std::vector<string> ports = bluetooth;
    ports.insert(ports.end(), others.begin(), others.end());
    listed = ports.size();
    for (int n = 1; n <= 256; ++n) {
        const string port = "COM" + std::to_string(n);
        bool known = false;
        for (size_t i = 0; i < listed; ++i)
            known = known || SameName(ports[i], port);
        if (!known) ports.push_back(port);
    }
    return ports;
}

PortProbe AskPort(const string& port, bool listed, const std::vector<string>& initCommands,
                  HANDLE stop)
{
    auto answer = std::make_shared<PortProbe>();
    const std::shared_ptr<BoundedCall> call = StartBoundedCall(
        [answer, port, listed, initCommands] { *answer = AskPortNow(port, listed, initCommands); },
        nullptr);
    if (!call) return AskPortNow(port, listed, initCommands);
    bool ended = CallEnded(*call, PROBE_LIMIT, stop);
    const bool stopped = !ended && stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
    if (ended) {
        TakeCallResult(*call);
        return *answer;
    }
    // An open still waiting for a phone that does not come is cancelled
    // where the driver allows it; once the user has stopped, not waited for.
    ended = AbandonCall(*call, stopped ? 0 : CANCEL_WAIT);
    if (ended && !stopped) return *answer;
    PortProbe left;
    left.port = port;
    left.answer = stopped ? PortAnswer::Stopped : PortAnswer::Hung;
    if (!ended) LeftQuestions.push_back({port, call});
    return left;
}

std::vector<string> PortsStillInTheDriver(DWORD waitMs)
{
    std::vector<string> still;
    const DWORD start = GetTickCount();
    for (const auto& left : LeftQuestions) {
        const DWORD spent = GetTickCount() - start;
        if (!CallEnded(*left.second, spent < waitMs ? waitMs - spent : 0))
            still.push_back(left.first);
    }
    LeftQuestions.clear();
    return still;
}

string ListOf(const std::vector<string>& items)
{
    string list;
    for (const string& item : items) list += (list.empty() ? "" : ", ") + item;
    return list;
}

string DescribeAnswer(const PortProbe& p, const std::vector<string>& initCommands)
{
    const string init = ListOf(initCommands);
    switch (p.answer) {
    case PortAnswer::Absent: return "no such port";
    case PortAnswer::Accepted:
        return "a phone: answered AT and accepted key reporting (" + init + ")" +
               (p.refused.empty() ? "" : "; but " + p.refused);
    case PortAnswer::Busy: return "busy: another program has it open";
    case PortAnswer::Unopenable: return "cannot be opened: " + p.detail;
    case PortAnswer::Failed: return "not asked to the end: " + p.detail;
    case PortAnswer::Silent: return "no answer to AT";
    case PortAnswer::Echo: return "sends back what it is sent and never OK: not a phone";
    case PortAnswer::Garbled:
        return "answered AT with '" + Printable(p.detail.substr(0, 60)) + "', not OK: not a phone";
    case PortAnswer::Refused: return "answered AT, but refused " + p.detail + " (ERROR)";
    case PortAnswer::Unanswered: return "answered AT, but not " + p.detail;
    case PortAnswer::Unreachable:
        return "the phone is off, out of range or did not accept the connection (" + p.detail +
               ")";
    case PortAnswer::Stopped: return "not asked to the end: stopped";
    case PortAnswer::Hung:
        return "no result within " + std::to_string(PROBE_LIMIT / 1000) +
               " s (opening or writing hangs, and could not be cancelled)";
    }
    return "";
}
