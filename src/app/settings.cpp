#include "app.h"

#include "../util/program_folder.h"

Settings CurrentSettings;

bool LoadSettings()
{
    std::string path;
    if (!OwnSettingsPath(path)) return false;
    CurrentSettings = LoadSettingsFrom(path);
    return true;
}
