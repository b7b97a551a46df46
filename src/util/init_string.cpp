#include "init_string.h"

#include "text.h"

const char* const DEFAULT_INIT_STRING = "ATZ\r\nAT+CMER=3,2\r\n";

std::vector<std::string> InitCommands(const std::string& setting)
{
    std::vector<std::string> commands;
    std::string rest = setting;
    while (!rest.empty()) {
        std::string command;
        SplitToken(rest, "|", command);
        command = TrimBlanks(command);
        if (!command.empty()) commands.push_back(command);
    }
    return commands;
}

std::vector<std::string> InitCommandsSent(const std::string& text)
{
    std::vector<std::string> commands;
    std::string rest = text;
    while (!rest.empty()) {
        std::string command;
        SplitToken(rest, "\r\n", command);
        if (!command.empty()) commands.push_back(command);
    }
    return commands;
}
