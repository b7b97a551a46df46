#include "line_split.h"

#include "../util/text.h"

bool TakeLineFrom(std::string& buffer, bool tailExpired, std::string& line)
{
    if (buffer.empty()) return false;
    if (FirstOfAny(buffer, "\r\n") == -1 && !tailExpired) return false;
    SplitToken(buffer, "\r\n", line);
    return true;
}

void AppendPhoneText(std::string& text, const char* bytes, size_t count)
{
    for (size_t start = 0, end = 0; start < count; start = end + 1) {
        end = start;
        while (end < count && bytes[end] != '\0') ++end;
        text.append(bytes + start, end - start);
    }
    if (text.size() > RECEIVE_LIMIT) text.erase(0, text.size() - RECEIVE_LIMIT);
}
