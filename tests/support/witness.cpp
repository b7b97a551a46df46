// Test helper started by EXECUTE: records its command line and working
// folder in a log beside itself, named after itself.
#include <windows.h>

#include <cstdio>

int main()
{
    char exe[MAX_PATH] = {}, cwd[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    GetCurrentDirectoryA(MAX_PATH, cwd);
    char log[MAX_PATH + 8];
    std::snprintf(log, sizeof log, "%s.log", exe);
    char tmp[MAX_PATH + 8];
    std::snprintf(tmp, sizeof tmp, "%s.tmp", exe);
    if (FILE* f = std::fopen(tmp, "wb")) {
        std::fprintf(f, "cmdline=%s\ncwd=%s\n", GetCommandLineA(), cwd);
        std::fclose(f);
        MoveFileA(tmp, log);
    }
    return 0;
}
