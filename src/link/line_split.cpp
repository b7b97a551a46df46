#include "line_split.h"

#include "../util/text.h"

bool TakeLineFrom(std::string& buffer, bool tailExpired, std::string& line)
{
    if (buffer.empty()) return false;
    if (FirstOfAny(buffer, "\r\n") == -1 && !tailExpired) return false;
    SplitToken(buffer, "\r\n", line);
    return true;
}
