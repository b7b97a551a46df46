#pragma once
// DLLs from the system folder only. The program runs from wherever it was
// unpacked (often the Downloads folder), and a DLL planted beside it must
// never be loaded in place of a system one.

#include <windows.h>

// Takes the program's own folder (and the current one) out of the search for
// every DLL loaded from now on, where the system can (Windows 7 with
// KB2533623 and later). Called first thing at start, on the main thread.
void LoadDllsFromSystemOnly();

// The named DLL from the system folder, or null.
HMODULE LoadSystemDll(const wchar_t* name);

// A function of a loaded DLL as the caller's pointer type, or null.
template <typename Function>
Function SystemFunction(HMODULE dll, const char* name)
{
    FARPROC found = dll ? GetProcAddress(dll, name) : nullptr;
    // Through the generic function type, which any function pointer converts to and from.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
