// Any settings file is checked without fault, and every finding names a
// line of the file (or the file as a whole).
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "tools/settings_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const Finding& f : CheckSettings(text)) {
        FUZZ_CHECK(f.line >= 0 && f.line <= lines);
        FUZZ_CHECK(!f.message.empty());
    }
    return 0;
}
