#include "keypad_settings.h"

#include <algorithm>

#include "../util/text.h"

bool IsKeypadKey(const std::string& key)
{
    return key.size() == KEYPAD_KEY_DIGITS && std::all_of(key.begin(), key.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

uint16_t KeypadPortOf(int32_t value)
{
    return value > 0 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

std::string KeypadPortProblem(const std::string& value)
{
    const std::string digits = TrimBlanks(value);
    if (digits.empty()) return "";
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return "KeypadPort " + digits + " is no port number: the keypad page stays off; write a "
                   "number from 1 to 65535, or 0 for off";
    if (digits.size() > 5 || ParseDecimal(digits) > 65535)
        return "KeypadPort " + digits + " is above 65535: the keypad page stays off; use a port "
               "from 1024 to 65535, e.g. 8731";
    return "";
}
