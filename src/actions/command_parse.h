#pragma once
// The command language, parsed without touching the system, so that what a
// command string means can be checked apart from what performing it does.

#include <cstdint>
#include <string>
#include <vector>

enum class CommandKind { None, Execute, KeyPress, MouseClick, MouseMove, Volume, Winamp };

// The keywords, written as they must be, in the order of CommandKind after None.
const char* const COMMAND_KEYWORDS[] = {"EXECUTE",   "KEYPRESS", "MOUSECLICK",
                                        "MOUSEMOVE", "VOLUME",   "WINAMP"};
// The kind a keyword names exactly (capitals), or None.
CommandKind KeywordKind(const std::string& keyword);

struct Command {
    CommandKind kind = CommandKind::None;
    std::string file;                // EXECUTE
    std::string parameters;          // EXECUTE
    std::vector<uint8_t> keys;       // KEYPRESS, virtual-key codes in list order
    char button = 0;                 // MOUSECLICK: 'L' or 'R'
    char axis = 0;                   // MOUSEMOVE: 'X' or 'Y'
    int32_t number = 0;              // MOUSEMOVE step, VOLUME step, WINAMP command
};

// A command string without its comment: the text before the first ';',
// trimmed; without a ';', the text as it stands (NextField trims each field).
std::string CommandText(const std::string& text);
// Takes the next comma-separated field from the front of rest, trimmed.
std::string NextField(std::string& rest);

// A keyword other than the six upper-case ones, a button other than L or R,
// or an axis other than X or Y gives CommandKind::None.
Command ParseCommand(const std::string& text);
