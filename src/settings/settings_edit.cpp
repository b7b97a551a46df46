#include "settings_edit.h"

#include <windows.h>

#include <numeric>

#include "../util/foreground_program.h"
#include "program_section.h"
#include "../util/system_message.h"
#include "../util/text.h"
#include "example_settings.h"
#include "settings_testing.h"
#include "settings_text.h"

namespace {

using std::string;

const int REPLACE_ATTEMPTS = 5;
const DWORD REPLACE_RETRY_PAUSE = 200;

string LineEndOf(const string& text)
{
    const size_t end = text.find_first_of("\r\n");
    if (end == string::npos || text.compare(end, 2, "\r\n") == 0) return "\r\n";
    return text.substr(end, 1);
}

bool IsHeader(const string& line)
{
    string name;
    return HeaderName(line, name);
}

// The lines of the first section of that name: its header's index and the
// index after its last line; false when there is none.
bool FindSection(const string& text, const std::vector<TextLine>& lines, const string& name,
                 size_t& header, size_t& after, unsigned codePage = CP_ACP)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        string found;
        if (!HeaderName(LineText(text, lines[i]), found)) continue;
        // A program's section by its program, however the header spaces it.
        const string program = SectionProgram(name);
        if (!SameName(found, name) &&
            (program.empty() || !SameFileName(SectionProgram(found), program, codePage)))
            continue;
        header = i;
        after = i + 1;
        while (after < lines.size() && !IsHeader(LineText(text, lines[after]))) ++after;
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

string WithSetting(const string& text, const string& name, const string& value)
{
    const std::vector<TextLine> lines = LinesOf(text);
    const string eol = LineEndOf(text);
    size_t header = 0, after = 0;
    if (!FindSection(text, lines, "Settings", header, after))
        return "[Settings]" + eol + name + "=" + value + eol + text;
    for (size_t i = header + 1; i < after; ++i) {
        const string line = LineText(text, lines[i]);
        const size_t equals = line.find('=');
        const string key = TrimBlanks(line.substr(0, equals));
        if (equals == string::npos || key.empty() || key[0] == ';' || !SameName(key, name))
            continue;
        return text.substr(0, lines[i].start + equals + 1) + value + text.substr(lines[i].end);
    }
    const size_t at = lines[header].next;
    const string before = Ended(text.substr(0, at));
    return before + name + "=" + value + eol + text.substr(at);
}

string WithPort(const string& text, const string& port)
{
    return WithSetting(text, "Port", port);
}

string WithCommandLines(const string& text, const std::vector<string>& added,
                        const string& section, unsigned codePage)
{
    const std::vector<TextLine> lines = LinesOf(text);
    const string eol = LineEndOf(text);
    const string block =
        std::accumulate(added.begin(), added.end(), string(),
                        [&](const string& all, const string& line) { return all + line + eol; });
    size_t header = 0, after = 0;
    if (!FindSection(text, lines, section, header, after, codePage))
        return Ended(text) + "[" + section + "]" + eol + block;
    size_t last = header;
    for (size_t i = header + 1; i < after; ++i)
        if (!TrimBlanks(LineText(text, lines[i])).empty()) last = i;
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
            why = "it cannot be read (" + SystemMessage(error) + ")";
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
    if (!ok) why = "it cannot be read (" + SystemMessage(GetLastError()) + ")";
    return ok;
}

namespace {

bool Exists(const string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MoveInPlace(const string& from, const string& to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

string FileName(const string& path)
{
    return path.substr(path.find_last_of("\\/") + 1);
}

} // namespace

FileReplacing ReplaceCall = ReplaceFileA;

bool ReplaceFileWhole(const string& path, const string& bytes, string& why)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        why = "it is read-only; it is unchanged";
        return false;
    }
    const string fresh = path + ".new";
    const string backup = path + ".old";
    HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "no new file can be made beside it (" + SystemMessage(GetLastError()) +
              "); it is unchanged";
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    const DWORD writeError = GetLastError();
    CloseHandle(file);
    if (!whole) {
        why = "the new file could not be written (" + SystemMessage(writeError) +
              "); it is unchanged";
        DeleteFileA(fresh.c_str());
        return false;
    }
    // The old file stays until the new one is complete on disk. ReplaceFile
    // keeps the old file's permissions, attributes and streams; a file that
    // is not there yet has none to keep. With a backup name its failures
    // leave the old file in place or under that name, never gone (without
    // one, 1176 leaves the settings nowhere but in the new file).
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    for (int attempt = 1;; ++attempt) {
        const bool replaced =
            existed ? ReplaceCall(path.c_str(), fresh.c_str(), backup.c_str(),
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                    : MoveInPlace(fresh, path);
        if (replaced) {
            DeleteFileA(backup.c_str());
            return true;
        }
        const DWORD error = GetLastError();
        const string failed = "it cannot be replaced (" + SystemMessage(error) + ")";
        if (existed && !Exists(path)) {
            // 1177: the old file is now the backup and the new one not in
            // place; any other failure that took the old file away alike.
            if (MoveInPlace(fresh, path)) {
                DeleteFileA(backup.c_str());
                return true;
            }
            if (Exists(backup) && MoveInPlace(backup, path)) {
                DeleteFileA(fresh.c_str());
                why = failed + "; it is unchanged";
                return false;
            }
            why = failed + ", and neither file could be put back in its place: the settings are in " +
                  FileName(backup) + ", the new ones in " + FileName(fresh) + "; rename one of them to " +
                  FileName(path);
            return false;
        }
        // A virus scanner or a sync client may hold the file for a moment.
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
                          error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
        if (!held || attempt == REPLACE_ATTEMPTS) {
            why = failed + "; it is unchanged";
            // Only a copy of what the old file already holds goes.
            if (!existed || Exists(path)) DeleteFileA(fresh.c_str());
            return false;
        }
        Sleep(REPLACE_RETRY_PAUSE);
    }
}

bool EditSettingsFile(const string& path,
                      const std::function<string(const string&, unsigned)>& edit, string& why,
                      string* note)
{
    string bytes;
    SettingsText settings;
    if (ReadWholeFile(path, bytes, why)) {
        settings = DecodeSettings(bytes);
    } else {
        if (!why.empty()) {
            why += "; it is unchanged";
            return false;
        }
        for (const char* c = EXAMPLE_SETTINGS; *c; ++c) {
            if (*c == '\n') settings.text += '\r';
            settings.text += *c;
        }
    }
    if (settings.encoding == SettingsEncoding::Utf16BE) {
        why = "it is UTF-16 big-endian (it starts with FE FF), which Windows does not read as "
              "text; save it in Notepad as ANSI or as Unicode; it is unchanged";
        return false;
    }
    if (settings.encoding == SettingsEncoding::Utf8Marked) {
        // Windows reads the mark as part of line 1 and the rest as ANSI:
        // without it the file reads as it did, its first line included.
        settings.text.erase(0, TextLength(UTF8_MARK));
        settings.encoding = SettingsEncoding::Ansi;
        if (note)
            *note = string("its UTF-8 byte-order mark was removed: Windows read it as part of the "
                           "first line") +
                    (HoldsUtf8Letters(settings.text)
                         ? "; its letters beyond ASCII are still read in the ANSI code page, so "
                           "save it as Unicode in Notepad to keep them"
                         : "");
    }
    // Written back in the encoding it was read in.
    settings.text = edit(settings.text, settings.encoding == SettingsEncoding::Utf16LE ? CP_UTF8 : CP_ACP);
    return ReplaceFileWhole(path, EncodeSettings(settings), why);
}
