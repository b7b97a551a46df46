// Every text routine on arbitrary bytes, with the properties callers rely on.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string all(reinterpret_cast<const char*>(data), size);
    // The first byte picks a split point, so two texts are fuzzed against each other.
    const size_t cut = size ? data[0] % (size + 1) : 0;
    const std::string a = all.substr(0, cut);
    const std::string b = all.substr(cut);

    ParseDecimal(a);
    ParseHex(a);
    const std::string trimmed = TrimBlanks(a);
    FUZZ_CHECK(trimmed.size() <= a.size());
    FUZZ_CHECK(TrimLeading(TrimTrailing(a)).size() <= a.size());

    const int c = CharPosition(a, b.empty() ? ',' : b[0]);
    FUZZ_CHECK(c == -1 || (c >= 1 && static_cast<size_t>(c) <= a.size()));
    const int f = FirstOfAny(a, b);
    FUZZ_CHECK(f == -1 || (f >= 1 && static_cast<size_t>(f) <= a.size()));
    const int s = SubstringPosition(a, b);
    // An empty text is found just past the end of the one searched.
    FUZZ_CHECK(s == -1 || (s >= 1 && static_cast<size_t>(s) <= a.size() + 1));
    // Searches see each text up to its first zero.
    const std::string wanted = b.c_str();
    if (s > 0) FUZZ_CHECK(a.compare(static_cast<size_t>(s) - 1, wanted.size(), wanted) == 0);
    TailFrom(a, static_cast<int>(cut) - 3);

    // Token, delimiter and rest put back together give the text again.
    std::string rest = a;
    std::string token;
    SplitToken(rest, b.empty() ? std::string("\r\n") : b, token);
    FUZZ_CHECK(token.size() + rest.size() <= a.size());
    if (token.size() + rest.size() < a.size()) FUZZ_CHECK(token.size() + rest.size() + 1 == a.size());
    FUZZ_CHECK(a.compare(0, token.size(), token) == 0);
    FUZZ_CHECK(a.compare(a.size() - rest.size(), rest.size(), rest) == 0);

    // The zero-terminated routines see the text up to its first zero.
    const char* p = a.c_str();
    FUZZ_CHECK(static_cast<size_t>(TextLength(p)) == std::strlen(p));
    FUZZ_CHECK(TextLength(nullptr) == 0);
    SafeText(nullptr);
    const char* hit = FindChar(p, b.empty() ? 'x' : b[0]);
    FUZZ_CHECK(hit == nullptr || (hit >= p && hit <= p + a.size()));
    CompareLimited(p, b.c_str(), static_cast<int>(size % 40) - 2);
    return 0;
}
