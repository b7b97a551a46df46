#pragma once
// The settings file read into a value: the rules for missing and odd
// values, the init commands, the key names of [Commands]. The command
// strings stay in the file and are read afresh at every press. No state;
// any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "init_string.h"
#include "program_section.h"

// The keep-alive period without a usable PingInterval (missing, 0 or below).
const int32_t DEFAULT_PING_INTERVAL = 10000;
// A link silent this long (ms) is reopened, so keep-alives must come sooner.
const int32_t SILENCE_LIMIT = 20000;

// Only the first PROGRAM_SECTION_LIMIT program sections are read.
const size_t PROGRAM_SECTION_LIMIT = 256;

// One such section: the program's file name, the section's name as the
// file spells it, its key names in file order.
struct ProgramCommands {
    std::string Program;
    std::string Section;
    std::vector<std::string> CommandTable;
};

struct Settings {
    std::string IniPath;
    std::string PortName = "COM1";
    int32_t PingInterval = DEFAULT_PING_INTERVAL;
    // Read and kept as the file gives it (the design leaves that choice
    // open); nothing uses it, and a file without it loads the same.
    int32_t WaitPortTimeout = 25000;
    // What the phone gets at open and at every keep-alive (the sender adds
    // CR LF): the default, or the InitString setting's commands, each with CR LF.
    std::string PhoneInitString = DEFAULT_INIT_STRING;
    // The same commands one by one, without their line ends.
    std::vector<std::string> PhoneInitCommands = InitCommandsSent(DEFAULT_INIT_STRING);
    // The keypad page's TCP port, 0 (or anything outside 1 to 65535) when
    // it is off, and the key a page must know (KeypadKey, hexadecimal).
    int32_t KeypadPort = 0;
    std::string KeypadKey;
    // The key names of [Commands] in file order.
    std::vector<std::string> CommandTable;
    // The program sections in file order, one per program (the first).
    std::vector<ProgramCommands> ProgramSections;
};

// Everything the settings file holds; defaults for what it lacks (also when
// there is no file).
Settings LoadSettingsFrom(const std::string& file);
