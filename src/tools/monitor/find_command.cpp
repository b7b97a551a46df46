#include "monitor_commands.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "../console_text.h"
#include "port_finder.h"
#include "../../settings/settings_edit.h"

int FindPhone(const Settings& settings, bool write, bool all, HANDLE stop)
{
    const std::vector<std::string>& init = settings.PhoneInitCommands;
    Say(stdout, "Asking each serial port whether a phone answers AT, then %s.\n",
        ListOf(init).c_str());
    size_t listed = 0;
    const std::vector<std::string> ports = PortsToAsk(listed);
    std::vector<PortProbe> present;
    for (size_t i = 0; i < ports.size(); ++i) {
        const PortProbe probe = AskPort(ports[i], i < listed, init, stop);
        if (probe.answer == PortAnswer::Stopped ||
            (stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0)) {
            Say(stdout, "Stopped while asking %s.%s\n", probe.port.c_str(),
                write ? " Nothing written." : "");
            return 2;
        }
        if (probe.answer == PortAnswer::Absent) continue;
        Say(stdout, "%s: %s\n", probe.port.c_str(), DescribeAnswer(probe, init).c_str());
        present.push_back(probe);
        // Every port opened raises its modem lines and hears AT: a board may
        // reset, a printer print. The rest are left alone once the phone is found.
        if (probe.answer == PortAnswer::Accepted && !all) break;
    }
    const std::vector<std::string> stuck = PortsStillInTheDriver(LEFT_WAIT);
    if (!stuck.empty())
        Say(stdout, "%s still inside the driver; it ends with this program.\n",
            ListOf(stuck).c_str());
    std::string phone, others, refused, busy;
    auto add = [](std::string& list, const std::string& port) {
        list += (list.empty() ? "" : ", ") + port;
    };
    for (const PortProbe& p : present) {
        if (p.answer == PortAnswer::Accepted) add(phone.empty() ? phone : others, p.port);
        if (p.answer == PortAnswer::Refused || p.answer == PortAnswer::Unanswered)
            add(refused, p.port);
        if (p.answer == PortAnswer::Busy) add(busy, p.port);
    }
    if (phone.empty()) {
        if (present.empty())
            Say(stdout, "No serial port found. Pair the phone with this PC first.\n");
        else if (!refused.empty())
            Say(stdout, 
                "No port accepted key reporting. %s answered AT but not every init command: "
                "it may be a modem, or a phone that needs another InitString (see the "
                "read-me); quorvix-monitor %s shows what it sends.\n",
                refused.c_str(), refused.substr(0, refused.find(',')).c_str());
        else
            Say(stdout, 
                "No phone answered. Check that the phone is paired with this PC, that its "
                "serial port service is on, and that no other program has its port open%s.\n",
                busy.empty() ? "" : (" (busy: " + busy + ")").c_str());
        if (write) Say(stdout, "Nothing written.\n");
        return 2;
    }
    Say(stdout, "Use %s: the phone answered there and accepted key reporting%s.\n", phone.c_str(),
        others.empty() ? "" : ("; so did " + others).c_str());
    if (!write) {
        Say(stdout, "quorvix-monitor --find --write puts it into %s.\n", settings.IniPath.c_str());
        return 0;
    }
    std::string why, note;
    if (!EditSettingsFile(
            settings.IniPath, [&](const std::string& text, unsigned) { return WithPort(text, phone); },
            why, &note)) {
        Say(stderr, "%s cannot be written: %s.\n",
            settings.IniPath.c_str(), why.c_str());
        return 2;
    }
    Say(stdout, "Port=%s written to %s%s.\n", phone.c_str(), settings.IniPath.c_str(),
        note.empty() ? "" : ("; " + note).c_str());
    return 0;
}
