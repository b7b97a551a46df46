#include "init_string.h"

#include "../util/text.h"

const char* const DEFAULT_INIT_STRING = "ATZ\r\nAT+CMER=3,2\r\n";

namespace {

// The trimmed, non-empty pieces of text between the delimiters.
std::vector<std::string> CommandsBetween(const std::string& text, const char* delimiters)
{
    std::vector<std::string> commands;
    std::string rest = text;
    while (!rest.empty()) {
        std::string command;
        SplitToken(rest, delimiters, command);
        command = TrimBlanks(command);
        if (!command.empty()) commands.push_back(command);
    }
    return commands;
}

} // namespace

std::vector<std::string> InitCommands(const std::string& setting)
{
    return CommandsBetween(setting, "|");
}

std::vector<std::string> InitCommandsSent(const std::string& text)
{
    return CommandsBetween(text, "\r\n");
}
