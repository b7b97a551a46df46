// Counts the program's idle passes in a named shared page that the benchmark reads.
#include <windows.h>

void CountIdlePass()
{
    static volatile LONG* counter = nullptr;
    if (!counter) {
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(LONG), "QuorvixIdlePasses");
        if (!mapping) return;
        counter = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
        if (!counter) return;
    }
    InterlockedIncrement(counter);
}
