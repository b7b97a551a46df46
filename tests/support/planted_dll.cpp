// Test helper: a DLL planted beside a program under a system DLL's name.
// Loaded, it leaves the file "planted-loaded" beside itself.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    std::string marker = path;
    marker = marker.substr(0, marker.find_last_of('\\') + 1) + "planted-loaded";
    HANDLE f = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return TRUE;
}
