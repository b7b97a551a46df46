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

std::string SettingsPathFor(const std::string& moduleFile)
{
    // The last four characters go whatever they are (normally ".exe").
    const size_t keep = moduleFile.size() > 4 ? moduleFile.size() - 4 : 0;
    return moduleFile.substr(0, keep) + ".ini";
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

std::string ProgramSettingsPath()
{
    char module[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    const std::string path = module;
    const size_t slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "quorvix.ini";
}

void LoadSettings()
{
    char module[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    LoadSettingsFrom(SettingsPathFor(module));
}

void LoadSettingsFrom(const std::string& file)
{
    IniPath = file;
    PortName = ReadIniString("Settings", "Port", "COM1", IniPath);
    PingInterval = ParseDecimal(ReadIniString("Settings", "PingInterval", "10000", IniPath));
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
