#include "text.h"

namespace {

bool IsBlank(unsigned char c) { return c >= 1 && c <= 32; }

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

} // namespace

int32_t ParseDecimal(const std::string& s)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
        negative = s[i] == '-';
        ++i;
    }
    // Unsigned arithmetic so that overflow wraps by definition.
    uint32_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(s[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

uint32_t ParseHex(const std::string& s)
{
    size_t i = 0;
    if (i < s.size() && s[i] == '$') ++i;
    uint32_t value = 0;
    for (int d; i < s.size() && (d = HexDigit(s[i])) >= 0; ++i)
        value = (value << 4) | static_cast<uint32_t>(d);
    return value;
}

std::string TrimTrailing(const std::string& s)
{
    size_t end = s.size();
    while (end > 0 && static_cast<unsigned char>(s[end - 1]) <= 32) --end;
    return s.substr(0, end);
}

std::string TrimLeading(const std::string& s)
{
    const char* p = s.c_str();
    while (IsBlank(static_cast<unsigned char>(*p))) ++p;
    return std::string(p);
}

std::string TrimBlanks(const std::string& s)
{
    return TrimLeading(TrimTrailing(s));
}

int CharPosition(const std::string& s, char ch)
{
    if (s.empty() || ch == '\0') return -1;
    const char* text = s.c_str();
    const char* hit = FindChar(text, ch);
    return hit ? static_cast<int>(hit - text) + 1 : -1;
}

int FirstOfAny(const std::string& s, const std::string& set)
{
    int best = -1;
    for (const char* c = set.c_str(); *c; ++c) {
        int p = CharPosition(s, *c);
        if (p != -1 && (best == -1 || p < best)) best = p;
    }
    return best;
}

int SubstringPosition(const std::string& s, const std::string& sub)
{
    const char* text = s.c_str();
    const int length = TextLength(sub.c_str());
    if (length == 0) return TextLength(text) + 1;
    for (const char* p = FindChar(text, sub[0]); p; p = FindChar(p + 1, sub[0])) {
        if (CompareLimited(p, sub.c_str(), length) == 0)
            return static_cast<int>(p - text) + 1;
    }
    return -1;
}

std::string TailFrom(const std::string& s, int position)
{
    if (position < 1) position = 1;
    if (static_cast<size_t>(position) > s.size()) return std::string();
    return s.substr(static_cast<size_t>(position) - 1);
}

void SplitToken(std::string& s, const std::string& delimiters, std::string& token)
{
    const int p = FirstOfAny(s, delimiters);
    if (p == -1) {
        token = s;
        s.clear();
        return;
    }
    token = s.substr(0, static_cast<size_t>(p) - 1);
    s = TailFrom(s, p + 1);
}

int TextLength(const char* p)
{
    int n = 0;
    if (p)
        while (p[n]) ++n;
    return n;
}

const char* SafeText(const char* p)
{
    return p ? p : "";
}

const char* FindChar(const char* p, char ch)
{
    for (;; ++p) {
        if (*p == ch) return p;
        if (*p == '\0') return nullptr;
    }
}

int CompareLimited(const char* a, const char* b, int n)
{
    a = SafeText(a);
    b = SafeText(b);
    for (int i = 0; i < n; ++i) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca != cb) return ca - cb;
        if (cb == 0) break;
    }
    return 0;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}
