#include "system_message.h"

#include "text.h"

std::string SystemMessage(DWORD code)
{
    char text[512] = {};
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                        0, text, sizeof text, nullptr))
        return "system error " + std::to_string(code);
    return TrimBlanks(text);
}
