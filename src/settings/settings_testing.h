#pragma once
// What the settings tests set: the replace call that ReplaceFileWhole makes.

#include <windows.h>

typedef BOOL(WINAPI* FileReplacing)(LPCSTR replaced, LPCSTR replacement, LPCSTR backup,
                                    DWORD flags, LPVOID exclude, LPVOID reserved);
// ReplaceFileA, or a stand-in that plays Windows' documented failures (Wine
// shows none of them). Main thread.
extern FileReplacing ReplaceCall;
