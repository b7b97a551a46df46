#include "keys.h"

#include "../util/text.h"

bool IsKeyPress(const std::string& line)
{
    return SubstringPosition(line, ",1") != -1;
}

bool IsKeyRelease(const std::string& line)
{
    return SubstringPosition(line, ",0") != -1;
}

bool LineNamesKey(const std::string& line, const std::string& keyName)
{
    return SubstringPosition(line, keyName) != -1;
}
