#pragma once
// The Linux side of tests that run under Wine: temporary folders reachable
// from both sides (Z: is the Linux root), files, Linux commands, Linux
// processes, and socat pty pairs that stand in for a serial cable.

#include <windows.h>

#include <string>

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

// Paths are in UTF-8 (ASCII paths as they stand).
std::wstring Wide(const std::string& text);
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
// The folder of the running test program.
std::string ModuleDir();

// Runs a Linux shell command through Wine and waits for it; its exit code.
int RunUnix(const std::string& command);

// COMn of the test's Wine prefix made a link to a Linux path (a pty, or a
// folder, which opens as a port in use does), and taken away again.
bool MapComPort(int number, const std::string& unixTarget);
void UnmapComPort(int number);
// The same for a device of any name (CNCA0), as \\.\NAME finds it.
bool MapPortName(const std::string& name, const std::string& unixTarget);
void UnmapPortName(const std::string& name);

// The Linux process that runs a Windows program, found by its command line
// (Wine gives no CPU times for other processes; /proc does); 0 if none.
int UnixPidOf(const std::string& folder, const std::string& exeName);
// User plus system CPU seconds of a Linux process, or -1.
double LinuxCpuSeconds(int pid);

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
