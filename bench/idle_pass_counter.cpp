// Counts the program's idle passes in a named shared page that the benchmark reads.
#include <windows.h>

#include "app/app_testing.h"

namespace {

volatile LONG* Counter = nullptr;

void CountIdlePass()
{
    if (!Counter) {
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(LONG), "QuorvixIdlePasses");
        if (!mapping) return;
        Counter = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
        if (!Counter) return;
    }
    InterlockedIncrement(Counter);
}

// Linked into the counting build only: set before the program's main runs.
struct Installer {
    Installer() { OnIdlePass = CountIdlePass; }
} Installed;

} // namespace
