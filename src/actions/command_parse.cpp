#include "command_parse.h"

#include "../util/text.h"

std::string CommandText(const std::string& text)
{
    const int comment = CharPosition(text, ';');
    if (comment > 0) return TrimBlanks(text.substr(0, static_cast<size_t>(comment) - 1));
    return text;
}

std::string NextField(std::string& rest)
{
    std::string field;
    SplitToken(rest, ",", field);
    return TrimBlanks(field);
}

CommandKind KeywordKind(const std::string& keyword)
{
    int index = 0;
    for (const char* k : COMMAND_KEYWORDS) {
        ++index;
        if (keyword == k) return static_cast<CommandKind>(index);
    }
    return CommandKind::None;
}

Command ParseCommand(const std::string& text)
{
    std::string rest = CommandText(text);
    Command c;
    const std::string keyword = NextField(rest);
    // What is left in rest is the argument text, untrimmed.
    const CommandKind kind = KeywordKind(keyword);
    if (kind == CommandKind::Execute) {
        c.kind = CommandKind::Execute;
        c.file = NextField(rest);
        c.parameters = TrimBlanks(rest);
    } else if (kind == CommandKind::KeyPress) {
        c.kind = CommandKind::KeyPress;
        while (!rest.empty())
            c.keys.push_back(static_cast<uint8_t>(ParseHex(NextField(rest)) & 0xFF));
    } else if (kind == CommandKind::MouseClick) {
        const std::string button = NextField(rest);
        if (button == "L" || button == "R") {
            c.kind = CommandKind::MouseClick;
            c.button = button[0];
        }
    } else if (kind == CommandKind::MouseMove) {
        const std::string axis = NextField(rest);
        if (axis == "X" || axis == "Y") {
            c.kind = CommandKind::MouseMove;
            c.axis = axis[0];
            c.number = ParseDecimal(TrimBlanks(rest));
        }
    } else if (kind == CommandKind::Volume) {
        c.kind = CommandKind::Volume;
        c.number = ParseDecimal(TrimBlanks(rest));
    } else if (kind == CommandKind::Winamp) {
        c.kind = CommandKind::Winamp;
        c.number = ParseDecimal(TrimBlanks(rest));
    }
    return c;
}
