#pragma once
// The Windows side of tests: waiting with this thread's messages answered,
// test windows, child processes (the one way tests start a program), the
// real quorvix.exe and its error boxes, and what a process uses.

#include <windows.h>

#include <functional>
#include <string>

// Dispatches this thread's messages until done() or the time is up.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs);

// A hidden top-level window of the given class, registered on first use.
HWND CreateTestWindow(const char* className, WNDPROC proc);

// A program started in the background (command line and folder in UTF-8,
// so that paths outside the ANSI code page reach it whole), this thread's
// messages answered while it is waited for. ExitCode gives RUNNING while it
// still runs; Close posts WM_CLOSE to its window of that class (if any),
// then ends it by force if it does not end in time. Ended by force when
// destroyed.
struct ChildProcess {
    static const DWORD RUNNING = 12345;
    PROCESS_INFORMATION pi = {};
    // With outputFile, standard output and error go to that file.
    bool Start(const std::string& commandLine, const std::string& folder = "",
               const std::string& outputFile = "");
    DWORD ExitCode(DWORD timeoutMs);
    DWORD Close(const char* windowClass, DWORD timeoutMs = 10000);
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();
};

// Runs a program to its end, at most timeoutMs; its exit code, or -1.
// With output given, the program's standard output is collected there.
int RunProgram(const std::string& commandLine, DWORD timeoutMs, std::string* output = nullptr);

// The real quorvix.exe, copied into a folder (in UTF-8) beside its settings
// file and started there.
struct QuorvixRun : ChildProcess {
    std::string exe;
    bool Start(const std::string& folder, const std::string& settings,
               const std::string& name = "quorvix.exe");
    DWORD Close(DWORD timeoutMs = 10000) { return ChildProcess::Close("Quorvix", timeoutMs); }
};

// The text of a message box (e.g. the one titled "Error"), "" if it has none yet.
std::string ErrorBoxText(HWND box);

// How many user objects (menus, windows) are alive on the whole desktop.
unsigned UserObjectsInUse();

struct ProcessMemory {
    double workingSetKb = -1;
    double peakWorkingSetKb = -1;
    double privateKb = -1;
};
ProcessMemory MemoryOf(HANDLE process);
