#pragma once
// Changes to a settings file that keep everything else in it as it was:
// every other line, comment and line end. The text changes read nothing
// but the text; the file is replaced whole or not at all.

#include <functional>
#include <string>
#include <vector>

// The text with the [Settings] key name set to value: the first line of
// that key there gets the new value, or a line comes right under
// [Settings], or a [Settings] section with it comes first in the file.
std::string WithSetting(const std::string& text, const std::string& name, const std::string& value);
std::string WithPort(const std::string& text, const std::string& port);
// The text with lines added to the section (a program's section found by
// its program, compared as file names in the text's codePage, 0 for
// CP_ACP), after its last line that is not blank, or in a new section of
// that name at the end.
std::string WithCommandLines(const std::string& text, const std::vector<std::string>& lines,
                             const std::string& section = "Commands", unsigned codePage = 0);

// The file's bytes; false when it cannot be read, with why ("" when it does
// not exist).
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& why);
// Writes a new file beside path (path.new), then puts it in path's place in
// one step, keeping the old file's permissions and attributes (the old one
// passes through path.old), and trying again for about a second while
// another program holds it: path holds either its old bytes or all of the
// new ones, never a part, and no copy is deleted while path lacks both.
// False, with the reason and where the settings are in why, when that
// cannot be done.
bool ReplaceFileWhole(const std::string& path, const std::string& bytes, std::string& why);
// Reads the settings file (the shipped example, with Windows line ends, where
// there is none), changes its text with edit and replaces it whole, in the
// encoding it had: edit gets the text as DecodeSettings gives it and the
// code page of that text (CP_UTF8 for a Unicode file, else CP_ACP), and
// adds text in it. A UTF-8 mark is dropped (note says so); a UTF-16 BE file
// is refused. False, with the reason in why and the file as it was, when
// that cannot be done.
bool EditSettingsFile(const std::string& path,
                      const std::function<std::string(const std::string&, unsigned)>& edit,
                      std::string& why, std::string* note = nullptr);
