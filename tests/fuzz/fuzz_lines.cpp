// Received text in arbitrary pieces: every byte is either in a taken line
// or is the single line end taken with it, in order; nothing is lost.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "link/line_split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string buffer;
    std::string taken;
    std::string fed;
    size_t at = 0;
    while (at < size) {
        // Each piece: a length byte, then up to that many bytes of text.
        const size_t length = data[at] % 32;
        ++at;
        const size_t n = length < size - at ? length : size - at;
        const char* piece = reinterpret_cast<const char*>(data + at);
        at += n;
        // The reader stores each piece without its zero bytes.
        for (size_t i = 0; i < n; ++i) {
            if (piece[i] == '\0') continue;
            buffer += piece[i];
            fed += piece[i];
        }
        const bool expired = (length & 1) != 0;
        std::string line;
        while (TakeLineFrom(buffer, expired, line)) {
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
            taken += line;
            // The end that was taken with it, if the line had one.
            const size_t end = taken.size();
            if (end < fed.size() - buffer.size()) taken += fed[end];
        }
        FUZZ_CHECK(taken + buffer == fed);
        FUZZ_CHECK(expired ? buffer.empty() : buffer.find_first_of("\r\n") == std::string::npos);
    }
    return 0;
}
