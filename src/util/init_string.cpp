#include "init_string.h"

#include "text.h"

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
