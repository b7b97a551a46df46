// Any command string parses to one consistent command record.
#include <cstdint>
#include <string>

#include "actions/command_parse.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Command c = ParseCommand(text);
    switch (c.kind) {
    case CommandKind::MouseClick: FUZZ_CHECK(c.button == 'L' || c.button == 'R'); break;
    case CommandKind::MouseMove: FUZZ_CHECK(c.axis == 'X' || c.axis == 'Y'); break;
    case CommandKind::KeyPress: FUZZ_CHECK(c.keys.size() <= size); break;
    case CommandKind::None:
        FUZZ_CHECK(c.keys.empty() && c.file.empty() && c.number == 0);
        break;
    default: break;
    }
    // Whatever follows a comment mark cannot change what the command is.
    const Command commented = ParseCommand(text + ";EXECUTE,x");
    FUZZ_CHECK(commented.kind == c.kind || text.find(';') == std::string::npos);
    return 0;
}
