// Any settings file is checked without fault, every finding names a line of
// the file (or the file as a whole), and its text comes back byte for byte.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "settings/settings_check.h"
#include "settings/settings_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const SettingsText decoded = DecodeSettings(bytes);
    // UTF-16 keeps every unit, not an odd last byte.
    if (size % 2 == 0 || decoded.encoding != SettingsEncoding::Utf16LE)
        FUZZ_CHECK(EncodeSettings(decoded) == bytes);
    // A line ends at LF, CR LF or CR alone.
    const std::string& text = decoded.text;
    int lines = 1;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++lines;
    for (const Finding& f : CheckSettings(bytes)) {
        FUZZ_CHECK(f.line >= 0 && f.line <= lines);
        FUZZ_CHECK(!f.message.empty());
    }
    return 0;
}
