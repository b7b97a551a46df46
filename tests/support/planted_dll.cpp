// Test helper: a DLL planted beside a program under a system DLL's name.
// Loaded, it leaves the file "planted-loaded" beside itself. Kernel32 calls
// alone: it runs inside the loader's lock, before anything else is set up.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    static const char name[] = "planted-loaded";
    char path[MAX_PATH + sizeof name] = {};
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\') --length;
    lstrcpyA(path + length, name);
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return TRUE;
}
