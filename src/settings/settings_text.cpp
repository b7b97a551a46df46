#include "settings_text.h"

#include "../util/text.h"

namespace {

using std::string;

const string UTF16LE_MARK = "\xFF\xFE";
const string UTF16BE_MARK = "\xFE\xFF";

void AppendUtf8(string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A lone surrogate keeps its own three-byte form, so that even a damaged
// UTF-16 file comes back as it was.
string Utf16ToUtf8(const string& bytes, size_t from)
{
    string out;
    auto unitAt = [&](size_t i) {
        const unsigned char a = static_cast<unsigned char>(bytes[i]);
        const unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        return b << 8 | a;
    };
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        const unsigned long unit = static_cast<unsigned long>(unitAt(i));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const unsigned long low = static_cast<unsigned long>(unitAt(i + 2));
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, unit);
    }
    return out;
}

void AppendUnit(string& out, unsigned long unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// Bytes that are no UTF-8 become U+FFFD; the decoder above never makes such.
string Utf8ToUtf16(const string& text)
{
    string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length =
            lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        unsigned long code = 0xFFFD;
        bool valid = length > 0 && i + length <= text.size() && lead < 0xF8;
        if (valid) {
            code = length == 1 ? lead : lead & (0xFF >> (length + 1));
            for (size_t k = 1; k < length && valid; ++k) {
                const unsigned char c = static_cast<unsigned char>(text[i + k]);
                valid = (c & 0xC0) == 0x80;
                code = code << 6 | (c & 0x3F);
            }
        }
        if (!valid) {
            AppendUnit(out, 0xFFFD);
            ++i;
            continue;
        }
        i += length;
        if (code >= 0x10000) {
            AppendUnit(out, 0xD800 + ((code - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            AppendUnit(out, code);
        }
    }
    return out;
}

bool StartsWith(const string& bytes, const string& mark)
{
    return bytes.compare(0, mark.size(), mark) == 0;
}

} // namespace

const char* const UTF8_MARK = "\xEF\xBB\xBF";

SettingsText DecodeSettings(const string& bytes)
{
    SettingsText s;
    if (StartsWith(bytes, UTF16LE_MARK)) {
        s.encoding = SettingsEncoding::Utf16LE;
        s.text = Utf16ToUtf8(bytes, UTF16LE_MARK.size());
        return s;
    }
    if (StartsWith(bytes, UTF8_MARK)) s.encoding = SettingsEncoding::Utf8Marked;
    if (StartsWith(bytes, UTF16BE_MARK)) s.encoding = SettingsEncoding::Utf16BE;
    s.text = bytes;
    return s;
}

string EncodeSettings(const SettingsText& s)
{
    if (s.encoding == SettingsEncoding::Utf16LE) return UTF16LE_MARK + Utf8ToUtf16(s.text);
    return s.text;
}

bool HoldsUtf8Letters(const string& text)
{
    bool beyondAscii = false;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || lead >= 0xF5 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        beyondAscii = true;
        i += length;
    }
    return beyondAscii;
}

std::vector<TextLine> LinesOf(const string& text)
{
    std::vector<TextLine> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == string::npos) end = text.size();
        const size_t next = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : end < text.size());
        lines.push_back({start, end, next});
        start = next;
    }
    return lines;
}

string LineText(const string& text, const TextLine& line)
{
    return text.substr(line.start, line.end - line.start);
}

bool HeaderName(const string& line, string& name)
{
    const string t = TrimBlanks(line);
    const size_t close = t.rfind(']');
    if (t.empty() || t[0] != '[' || close == string::npos) return false;
    name = TrimBlanks(t.substr(1, close - 1));
    return true;
}

namespace {

// The profile functions drop one pair of quotes, double or single, around a value.
string Unquoted(const string& s)
{
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0])
        return s.substr(1, s.size() - 2);
    return s;
}

} // namespace

std::vector<SettingsSection> SectionsOf(const string& text)
{
    std::vector<SettingsSection> sections(1);
    int number = 0;
    for (const TextLine& l : LinesOf(text)) {
        ++number;
        const string line = TrimBlanks(LineText(text, l));
        if (line.empty() || line[0] == ';') continue;
        SettingsSection s;
        if (HeaderName(line, s.name)) {
            s.line = number;
            sections.push_back(s);
            continue;
        }
        SettingsEntry e;
        e.line = number;
        const size_t equals = line.find('=');
        e.key = TrimBlanks(line.substr(0, equals));
        e.hasEquals = equals != string::npos;
        if (e.hasEquals) e.value = Unquoted(TrimBlanks(line.substr(equals + 1)));
        sections.back().entries.push_back(e);
    }
    return sections;
}
