// quorvix-check: reports every setting in a settings file that would silently
// do nothing or something unexpected. Exit code 0 clean (hints at most), 1 warnings, 2 unreadable.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "settings_check.h"
#include "../util/program_folder.h"
#include "../util/system_dll.h"

int main(int argc, char** argv)
{
    LoadDllsFromSystemOnly();
    if (argc > 2) {
        std::fprintf(stderr, "usage: quorvix-check [settings file]\n");
        return 2;
    }
    std::string path;
    if (argc == 2) {
        path = argv[1];
    } else if (!ProgramSettingsPath(path)) {
        std::fprintf(stderr, "%s\n", SETTINGS_UNREACHABLE);
        return 2;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "%s: cannot be read: %s\n", path.c_str(), std::strerror(errno));
        return 2;
    }
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
        return 2;
    }
    const std::vector<Finding> findings = CheckSettings(text);
    unsigned warnings = 0;
    for (const Finding& f : findings) {
        const char* kind = f.hint ? "hint: " : "";
        warnings += f.hint ? 0 : 1;
        if (f.line > 0)
            std::printf("%s:%d: %s%s\n", path.c_str(), f.line, kind, f.message.c_str());
        else
            std::printf("%s: %s%s\n", path.c_str(), kind, f.message.c_str());
    }
    if (warnings == 0) {
        std::printf("%s: no problems found\n", path.c_str());
        return 0;
    }
    std::printf("%u warning%s\n", warnings, warnings == 1 ? "" : "s");
    return 1;
}
