// Any settings file is checked without fault, and every finding names a
// line of the file (or the file as a whole).
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "tools/settings_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A line ends at LF, CR LF or CR alone.
    int lines = 1;
    for (size_t i = 0; i < size; ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == size || text[i + 1] != '\n'))) ++lines;
    for (const Finding& f : CheckSettings(text)) {
        FUZZ_CHECK(f.line >= 0 && f.line <= lines);
        FUZZ_CHECK(!f.message.empty());
    }
    return 0;
}
