#include "system_dll.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void LoadDllsFromSystemOnly()
{
    typedef BOOL(WINAPI * SetDirectories)(DWORD);
    const SetDirectories set = SystemFunction<SetDirectories>(GetModuleHandleW(L"kernel32.dll"),
                                                              "SetDefaultDllDirectories");
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemDll(const wchar_t* name)
{
    HMODULE dll = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dll) return dll;
    // A system that does not know the flag refuses it: the full path then.
    wchar_t path[2 * MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || lstrlenW(name) >= MAX_PATH - 1) return nullptr;
    lstrcpyW(path + length, L"\\");
    lstrcpyW(path + length + 1, name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
