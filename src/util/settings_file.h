#pragma once
// The settings file read into a value: the rules for missing and odd
// values, the init commands, the key names of [Commands]. The command
// strings stay in the file and are read afresh at every press. No state;
// any thread.

#include <cstdint>
#include <string>
#include <vector>

// The keep-alive period without a usable PingInterval (missing, 0 or below).
const int32_t DEFAULT_PING_INTERVAL = 10000;
// Reset, then report every key press and release.
extern const char* const DEFAULT_INIT_STRING;

struct Settings {
    std::string IniPath;
    std::string PortName = "COM1";
    int32_t PingInterval = DEFAULT_PING_INTERVAL;
    // Read so that files carrying it load like any other; nothing uses it.
    int32_t WaitPortTimeout = 25000;
    // What the phone gets at open and at every keep-alive (the sender adds
    // CR LF): the default, or the InitString setting's commands, each with CR LF.
    std::string PhoneInitString = DEFAULT_INIT_STRING;
    // The key names of [Commands] in file order.
    std::vector<std::string> CommandTable;
};

// Everything the settings file holds; defaults for what it lacks (also when
// there is no file).
Settings LoadSettingsFrom(const std::string& file);
