#pragma once
// Helpers for tests that run under Wine: temporary folders reachable from
// both sides (Z: is the Linux root), Linux commands, child processes, pty
// pairs that stand in for a serial cable, and waiting with messages pumped.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// A fresh folder under /tmp, removed with everything in it at the end.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Win(const std::string& name = "") const;   // Z:\tmp\...\name
    std::string Unix(const std::string& name = "") const;  // /tmp/.../name
    std::string unixPath;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

// Runs a Linux shell command through Wine and waits for it; its exit code.
int RunUnix(const std::string& command);

// Runs a Windows program (command line in UTF-8), waits at most timeoutMs;
// its exit code, or -1.
// With output given, the program's standard output is collected there.
int RunProgram(const std::string& commandLine, DWORD timeoutMs, std::string* output = nullptr);

std::string ModuleDir();

// A hidden top-level window of the given class, registered on first use.
HWND CreateTestWindow(const char* className, WNDPROC proc);

// A stand-in for the player's main window ("Winamp v1.x") in this thread,
// and the wParam and lParam of every WM_COMMAND that reached it.
extern std::vector<std::pair<WPARAM, LPARAM>> PlayerMessages;
HWND CreatePlayerWindow();  // empties PlayerMessages first
std::vector<WPARAM> PlayerCommands();

// A Windows program started in the background, this thread's messages
// answered while it is waited for. ExitCode gives 12345 while it still runs;
// Close posts WM_CLOSE to its window of that class (if any), then ends it by
// force if it does not end in time. Ended by force when destroyed.
struct ChildProcess {
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

// The real quorvix.exe, copied into a folder beside its settings file and
// started there.
// The text of a message box (e.g. the one titled "Error"), "" if it has none yet.
std::string ErrorBoxText(HWND box);

struct QuorvixRun : ChildProcess {
    std::string exe;
    bool Start(const TempDir& dir, const std::string& settings,
               const std::string& name = "quorvix.exe");
    DWORD Close(DWORD timeoutMs = 10000) { return ChildProcess::Close("Quorvix", timeoutMs); }
};

// How many user objects (menus, windows) are alive on the whole desktop.
unsigned UserObjectsInUse();

struct ProcessMemory {
    double workingSetKb = -1;
    double peakWorkingSetKb = -1;
    double privateKb = -1;
};
ProcessMemory MemoryOf(HANDLE process);

// The Linux process that runs a Windows program, found by its command line
// (Wine gives no CPU times for other processes; /proc does); 0 if none.
int UnixPidOf(const std::string& folder, const std::string& exeName);
// User plus system CPU seconds of a Linux process, or -1.
double LinuxCpuSeconds(int pid);

// Dispatches this thread's messages until done() or the time is up.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs);

// A socat pty pair: the program opens pcPath, the test plays the phone on phonePath.
struct PtyPair {
    explicit PtyPair(const TempDir& dir, const std::string& name = "link");
    ~PtyPair();
    bool Start();
    void Stop();
    std::string pcPath;     // Windows form, for CreateFileA
    std::string phonePath;  // Windows form
    std::string pcUnix, phoneUnix, pidFile;
};

// The phone side of a pty pair, opened under Wine as a serial port.
struct PhoneEnd {
    explicit PhoneEnd(const std::string& path);
    ~PhoneEnd();
    bool Ok() const { return handle != INVALID_HANDLE_VALUE; }
    // False when not all of it went in within the time: the program's side
    // of the pty is full, so the program stopped reading.
    bool Write(const std::string& bytes, DWORD timeoutMs = INFINITE);
    // Collects what arrives until at least count bytes came or the time is up.
    std::string ReadAtLeast(size_t count, DWORD timeoutMs);
    // Everything that arrives within the time.
    std::string ReadFor(DWORD timeoutMs);
    HANDLE handle;
};
