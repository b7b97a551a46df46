#include "app.h"

#include <windows.h>

#include "../keys/keys.h"
#include "../link/init_string.h"
#include "../link/link.h"
#include "../util/text.h"

std::string IniPath;
std::string PortName;
int32_t PingInterval = 0;
int32_t WaitPortTimeout = 0;

std::wstring SettingsPathFor(const std::wstring& moduleFile)
{
    // The last four characters go whatever they are (normally ".exe").
    const size_t keep = moduleFile.size() > 4 ? moduleFile.size() - 4 : 0;
    return moduleFile.substr(0, keep) + L".ini";
}

namespace {

// The profile functions hand back the default both for a missing key and for
// one whose value equals it; two different defaults tell the cases apart.
bool SettingPresent(const std::string& key, const std::string& file)
{
    return ReadIniString("Settings", key, "", file) != "" ||
           ReadIniString("Settings", key, "-", file) != "-";
}

} // namespace

namespace {

// The running program's full file name, however long; empty on failure.
std::wstring ModuleFileName()
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
        if (length == 0) return std::wstring();
        if (length < name.size()) return name.substr(0, length);
        if (name.size() > 32768) return std::wstring();
        name.resize(name.size() * 2);
    }
}

// The text in the ANSI code page; false when a character has no place there
// (the ANSI call would turn it into '?').
bool ToAnsi(const std::wstring& text, std::string& ansi)
{
    ansi.clear();
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), length,
                                         nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return false;
    ansi.assign(static_cast<size_t>(size), '\0');
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), length, &ansi[0], size,
                               nullptr, &lossy) == size &&
           !lossy;
}

// The short (8.3) form of an existing path; empty when it has none.
std::wstring ShortForm(const std::wstring& path)
{
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring out(size, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), &out[0], size);
    if (length == 0 || length >= size) return std::wstring();
    return out.substr(0, length);
}

// folder + file in a form the ANSI profile calls can open: as it stands when
// the code page holds it, else with the folder's short form, else wholly
// short (for a file that exists). A form within MAX_PATH is preferred; a
// longer one is still used whole rather than cut.
bool AnsiPathOf(const std::wstring& folder, const std::wstring& file, std::string& path)
{
    const std::wstring forms[] = {folder + file, ShortForm(folder) + file, ShortForm(folder + file)};
    std::string usable;
    for (const std::wstring& form : forms) {
        std::string ansi;
        if (form.size() <= file.size() || !ToAnsi(form, ansi)) continue;
        if (ansi.size() < MAX_PATH) {
            path = ansi;
            return true;
        }
        if (usable.empty()) usable = ansi;
    }
    path = usable;
    return !usable.empty();
}

// The settings file in the running program's folder: fileName, or without
// it the program's own long name with its last four characters replaced.
bool SettingsFileBesideProgram(const wchar_t* fileName, std::string& path)
{
    const std::wstring module = ModuleFileName();
    const size_t slash = module.find_last_of(L"\\/");
    if (module.empty() || slash == std::wstring::npos) return false;
    const std::wstring file = fileName ? std::wstring(fileName)
                                       : SettingsPathFor(module).substr(slash + 1);
    return AnsiPathOf(module.substr(0, slash + 1), file, path);
}

} // namespace

const char* const SETTINGS_UNREACHABLE =
    "The settings file cannot be read: the program's folder has characters that this "
    "system's code page cannot show, and its drive keeps no short names for it. Move the "
    "program to a folder whose name has only such characters.";

bool ProgramSettingsPath(std::string& path)
{
    return SettingsFileBesideProgram(L"quorvix.ini", path);
}

bool LoadSettings()
{
    std::string path;
    if (!SettingsFileBesideProgram(nullptr, path)) return false;
    LoadSettingsFrom(path);
    return true;
}

void LoadSettingsFrom(const std::string& file)
{
    IniPath = file;
    PortName = ReadIniString("Settings", "Port", "COM1", IniPath);
    PingInterval = ParseDecimal(ReadIniString("Settings", "PingInterval", "10000", IniPath));
    // 0 (also an empty or unreadable value) would send keep-alives at the
    // timer's minimum period, each resetting the phone; below 0, none at all.
    if (PingInterval <= 0) PingInterval = DEFAULT_PING_INTERVAL;
    // Read so that files carrying it load like any other; nothing uses it.
    WaitPortTimeout = ParseDecimal(ReadIniString("Settings", "WaitPortTimeout", "25000", IniPath));
    // Absent (or without a command in it), the phone gets the default bytes.
    PhoneInitString = DEFAULT_INIT_STRING;
    if (SettingPresent("InitString", IniPath)) {
        std::string configured;
        // Each command ends with CR LF, as in the default.
        for (const std::string& command :
             InitCommands(ReadIniString("Settings", "InitString", "", IniPath)))
            configured += command + "\r\n";
        if (!configured.empty()) PhoneInitString = configured;
    }
    LoadCommandSection("Commands", IniPath);
}
