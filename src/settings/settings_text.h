#pragma once
// The settings file's text as the profile functions read it: its encoding,
// its lines and its section headers. One reading for the checker, the edits
// and the learning. No system calls.

#include <cstddef>
#include <string>
#include <vector>

// Windows' profile functions read a file as Unicode (UTF-16 LE) only when it
// starts with FF FE; any other file as ANSI, a UTF-8 mark (EF BB BF) then
// being part of line 1, and FE FF (UTF-16 BE) as ANSI bytes that hold no
// setting. (Wine reads all three marks as Unicode: the tools keep to
// Windows' rule.)
enum class SettingsEncoding { Ansi, Utf8Marked, Utf16LE, Utf16BE };

struct SettingsText {
    SettingsEncoding encoding = SettingsEncoding::Ansi;
    // What the profile functions read: the bytes as they are (a UTF-8 mark
    // included), or a UTF-16 LE file's text after its mark, in UTF-8, so
    // that nothing in it is lost on the way back.
    std::string text;
};

SettingsText DecodeSettings(const std::string& bytes);
// The file's bytes again: an unchanged text gives the same bytes.
std::string EncodeSettings(const SettingsText& settings);
// The bytes of a UTF-8 mark, which begin a Utf8Marked text.
extern const char* const UTF8_MARK;
// Whether text holds letters beyond ASCII written in UTF-8 (and nothing
// that is no UTF-8), which the ANSI calls read as other letters.
bool HoldsUtf8Letters(const std::string& text);

// Where a line starts, where its end (LF, CR LF or CR alone) starts, and
// where the next line begins.
struct TextLine {
    size_t start, end, next;
};
std::vector<TextLine> LinesOf(const std::string& text);
std::string LineText(const std::string& text, const TextLine& line);

// The section a line opens, as the profile functions parse a header: a line
// that starts with '[' (after blanks) and has a ']' opens the section named
// by all between the '[' and its last ']', trimmed. False for any other
// line, one with '[' and no ']' among them.
bool HeaderName(const std::string& line, std::string& name);

struct SettingsEntry {
    int line = 0;  // 1-based
    std::string key;
    // Without a pair of quotes around it, as the profile functions give it.
    std::string value;
    // A line without '=' is listed as no key at all.
    bool hasEquals = true;
};

struct SettingsSection {
    int line = 0;  // of its header; 0 for the lines before the first header
    std::string name;
    std::vector<SettingsEntry> entries;
};

// The sections in file order, as the profile functions read them: each
// non-blank line that is no header and no ';' comment is an entry of the
// section above it (a '[' line without ']' too), its key trimmed up to the
// first '=' and its value trimmed after it. Lines before the first header
// go to a first section without name, which nobody reads.
std::vector<SettingsSection> SectionsOf(const std::string& text);
