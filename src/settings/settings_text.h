#pragma once
// The settings file's text as the profile functions read it: its encoding,
// its lines and its section headers. One reading for the checker, the edits
// and the learning. No system calls.

#include <cstddef>
#include <string>
#include <vector>

// The profile functions read a file with a byte-order mark as Unicode (UTF-8
// or UTF-16), any other as ANSI.
enum class SettingsEncoding { Ansi, Utf8, Utf16LE, Utf16BE };

struct SettingsText {
    SettingsEncoding encoding = SettingsEncoding::Ansi;
    // An ANSI file's bytes as they are; a marked file's text after its mark,
    // in UTF-8, so that nothing in it is lost on the way back.
    std::string text;
};

SettingsText DecodeSettings(const std::string& bytes);
// The file's bytes again, with its mark: an unchanged text gives the same bytes.
std::string EncodeSettings(const SettingsText& settings);

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
