#include "app.h"

#include <windows.h>

#include "../keys/keys.h"
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

void LoadSettings()
{
    char module[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    IniPath = SettingsPathFor(module);
    PortName = ReadIniString("Settings", "Port", "COM1", IniPath);
    PingInterval = ParseDecimal(ReadIniString("Settings", "PingInterval", "10000", IniPath));
    // Read so that files carrying it load like any other; nothing uses it.
    WaitPortTimeout = ParseDecimal(ReadIniString("Settings", "WaitPortTimeout", "25000", IniPath));
    LoadCommandSection("Commands", IniPath);
}
