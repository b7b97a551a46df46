#include "settings_edit.h"

#include <windows.h>

#include <numeric>

#include "../util/text.h"
#include "example_settings.h"

namespace {

using std::string;

// A line of the text: where it starts, where its end (CR LF, LF or CR
// alone, as the profile functions read it) starts, and where the next begins.
struct Line {
    size_t start, end, next;
};

std::vector<Line> LinesOf(const string& text)
{
    std::vector<Line> lines;
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

string TextOf(const string& text, const Line& line)
{
    return text.substr(line.start, line.end - line.start);
}

string LineEndOf(const string& text)
{
    const size_t end = text.find_first_of("\r\n");
    if (end == string::npos || text.compare(end, 2, "\r\n") == 0) return "\r\n";
    return text.substr(end, 1);
}

// The section a header line opens ("" for a line that opens none).
string SectionName(const string& line)
{
    const string t = TrimBlanks(line);
    if (t.empty() || t[0] != '[' || t.find(']') == string::npos) return "";
    return TrimBlanks(t.substr(1, t.find(']') - 1));
}

bool IsHeader(const string& line)
{
    const string t = TrimBlanks(line);
    return !t.empty() && t[0] == '[' && t.find(']') != string::npos;
}

// The lines of the first section of that name: its header's index and the
// index after its last line; false when there is none.
bool FindSection(const string& text, const std::vector<Line>& lines, const string& name,
                 size_t& header, size_t& after)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const string line = TextOf(text, lines[i]);
        if (!IsHeader(line) || !SameName(SectionName(line), name)) continue;
        header = i;
        after = i + 1;
        while (after < lines.size() && !IsHeader(TextOf(text, lines[after]))) ++after;
        return true;
    }
    return false;
}

// Text ending in a line end: a last line without one gets the file's.
string Ended(const string& text)
{
    if (text.empty() || text.back() == '\n' || text.back() == '\r') return text;
    return text + LineEndOf(text);
}

} // namespace

string WithPort(const string& text, const string& port)
{
    const std::vector<Line> lines = LinesOf(text);
    const string eol = LineEndOf(text);
    size_t header = 0, after = 0;
    if (!FindSection(text, lines, "Settings", header, after))
        return "[Settings]" + eol + "Port=" + port + eol + text;
    for (size_t i = header + 1; i < after; ++i) {
        const string line = TextOf(text, lines[i]);
        const size_t equals = line.find('=');
        const string key = TrimBlanks(line.substr(0, equals));
        if (equals == string::npos || key.empty() || key[0] == ';' || !SameName(key, "Port"))
            continue;
        return text.substr(0, lines[i].start + equals + 1) + port + text.substr(lines[i].end);
    }
    const size_t at = lines[header].next;
    const string before = Ended(text.substr(0, at));
    return before + "Port=" + port + eol + text.substr(at);
}

string WithCommandLines(const string& text, const std::vector<string>& added)
{
    const std::vector<Line> lines = LinesOf(text);
    const string eol = LineEndOf(text);
    const string block =
        std::accumulate(added.begin(), added.end(), string(),
                        [&](const string& all, const string& line) { return all + line + eol; });
    size_t header = 0, after = 0;
    if (!FindSection(text, lines, "Commands", header, after))
        return Ended(text) + "[Commands]" + eol + block;
    size_t last = header;
    for (size_t i = header + 1; i < after; ++i)
        if (!TrimBlanks(TextOf(text, lines[i])).empty()) last = i;
    const size_t at = lines[last].next;
    return Ended(text.substr(0, at)) + block + text.substr(at);
}

bool ReadWholeFile(const string& path, string& bytes, string& why)
{
    bytes.clear();
    why.clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            why = "it cannot be read (system error " + std::to_string(error) + ")";
        return false;
    }
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    for (;;) {
        ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0;
        if (!ok || got == 0) break;
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    if (!ok) why = "it cannot be read";
    return ok;
}

bool ReplaceFileWhole(const string& path, const string& bytes, string& why)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        why = "it is read-only";
        return false;
    }
    const string fresh = path + ".new";
    HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "no new file can be made beside it (system error " + std::to_string(GetLastError()) +
              ")";
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);
    // The old file stays until the new one is complete on disk.
    if (!whole || !MoveFileExA(fresh.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = (whole ? "it cannot be replaced" : "the new file could not be written") +
              string(" (system error ") + std::to_string(GetLastError()) + ")";
        DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

bool EditSettingsFile(const string& path, const std::function<string(const string&)>& edit,
                      string& why)
{
    string text;
    if (!ReadWholeFile(path, text, why)) {
        if (!why.empty()) return false;
        for (const char* c = EXAMPLE_SETTINGS; *c; ++c) {
            if (*c == '\n') text += '\r';
            text += *c;
        }
    }
    return ReplaceFileWhole(path, edit(text), why);
}
