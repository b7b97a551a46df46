#include "test_support.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
std::atomic<int> TempCounter{0};

std::string ToWin(const std::string& unixPath)
{
    std::string win = "Z:" + unixPath;
    for (char& c : win)
        if (c == '/') c = '\\';
    return win;
}
} // namespace

TempDir::TempDir()
{
    unixPath = "/tmp/quorvix-tests/" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount()) + "-" + std::to_string(++TempCounter);
    RunUnix("mkdir -p " + unixPath);
}

TempDir::~TempDir() { RunUnix("rm -rf " + unixPath); }

std::string TempDir::Win(const std::string& name) const
{
    return ToWin(unixPath) + (name.empty() ? "" : "\\" + name);
}

std::string TempDir::Unix(const std::string& name) const
{
    return unixPath + (name.empty() ? "" : "/" + name);
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int RunUnix(const std::string& command)
{
    std::string quoted;
    for (char c : command) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    // Wine starts a Linux program without a handle to wait on: the command
    // leaves its exit code in a marker file instead.
    const std::string marker = "/tmp/quorvix-tests/.done-" + std::to_string(GetCurrentProcessId()) +
                               "-" + std::to_string(++TempCounter);
    const std::string winMarker = ToWin(marker);
    DeleteFileA(winMarker.c_str());
    std::string line = "Z:\\bin\\sh -c \"mkdir -p /tmp/quorvix-tests; (" + quoted + "); echo $? > " +
                       marker + ".tmp; mv " + marker + ".tmp " + marker + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    if (pi.hThread) CloseHandle(pi.hThread);
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (!WaitFor([&] { return FileExists(winMarker); }, 30000)) return -1;
    const int code = std::atoi(ReadBytes(winMarker).c_str());
    DeleteFileA(winMarker.c_str());
    return code;
}

int RunProgram(const std::string& commandLine, DWORD timeoutMs, std::string* output)
{
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    HANDLE outFile = INVALID_HANDLE_VALUE;
    char outName[MAX_PATH] = {};
    if (output) {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "qvx", 0, outName);
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        outFile = CreateFileA(outName, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = outFile;
        si.hStdError = outFile;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    // UTF-8, so that paths outside the ANSI code page reach the program whole.
    std::wstring line(commandLine.size() + 1, L'\0');
    line.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1,
                                                        &line[0], static_cast<int>(line.size()))));
    PROCESS_INFORMATION pi = {};
    if (line.empty() || !CreateProcessW(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0,
                                        nullptr, nullptr, &si, &pi)) {
        if (outFile != INVALID_HANDLE_VALUE) CloseHandle(outFile);
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (output) {
        CloseHandle(outFile);
        *output = ReadBytes(outName);
        // Text-mode output ends its lines with CR LF.
        output->erase(std::remove(output->begin(), output->end(), '\r'), output->end());
        DeleteFileA(outName);
    }
    return static_cast<int>(code);
}

std::string ModuleDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\'));
}

HWND CreateTestWindow(const char* className, WNDPROC proc)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

std::vector<std::pair<WPARAM, LPARAM>> PlayerMessages;

namespace {
LRESULT CALLBACK PlayerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_COMMAND) PlayerMessages.push_back({wp, lp});
    return DefWindowProcA(w, m, wp, lp);
}
} // namespace

HWND CreatePlayerWindow()
{
    PlayerMessages.clear();
    return CreateTestWindow("Winamp v1.x", PlayerProc);
}

std::vector<WPARAM> PlayerCommands()
{
    std::vector<WPARAM> numbers;
    for (const auto& m : PlayerMessages) numbers.push_back(m.first);
    return numbers;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

PtyPair::PtyPair(const TempDir& dir, const std::string& name)
    : pcPath(dir.Win(name + "-pc")), phonePath(dir.Win(name + "-phone")),
      pcUnix(dir.Unix(name + "-pc")), phoneUnix(dir.Unix(name + "-phone")),
      pidFile(dir.Unix(name + ".pid"))
{
}

PtyPair::~PtyPair() { Stop(); }

bool PtyPair::Start()
{
    // setsid: the pair must outlive the shell that starts it.
    // Waited for on the Linux side: Wine does not see a link to a pty as a file.
    return RunUnix("setsid /usr/bin/socat pty,raw,echo=0,link=" + phoneUnix +
                   " pty,raw,echo=0,link=" + pcUnix + " </dev/null >/dev/null 2>&1 & echo $! > " +
                   pidFile + "; i=0; until [ -e " + pcUnix + " ] && [ -e " + phoneUnix +
                   " ] || [ $i -gt 100 ]; do sleep 0.05; i=$((i+1)); done; [ -e " + pcUnix +
                   " ]") == 0;
}

void PtyPair::Stop()
{
    RunUnix("[ -f " + pidFile + " ] && kill $(cat " + pidFile + ") 2>/dev/null; rm -f " + pidFile +
            "; i=0; while [ -e " + pcUnix + " ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i+1)); done");
}

PhoneEnd::PhoneEnd(const std::string& path)
{
    handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(handle, &t);
}

PhoneEnd::~PhoneEnd()
{
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

bool PhoneEnd::Write(const std::string& bytes, DWORD timeoutMs)
{
    // A total write time-out of 0 means none.
    COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, timeoutMs == INFINITE ? 0 : timeoutMs};
    SetCommTimeouts(handle, &t);
    DWORD written = 0;
    return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string PhoneEnd::ReadAtLeast(size_t count, DWORD timeoutMs)
{
    std::string got;
    WaitFor([&] {
        char buf[512];
        DWORD n = 0;
        // The queue's count first: a read on an empty queue may not return under Wine.
        DWORD errors = 0;
        COMSTAT stat = {};
        if (ClearCommError(handle, &errors, &stat) && stat.cbInQue > 0 &&
            ReadFile(handle, buf, stat.cbInQue < sizeof buf ? stat.cbInQue : sizeof buf, &n, nullptr))
            got.append(buf, n);
        return got.size() >= count;
    }, timeoutMs);
    return got;
}

std::string PhoneEnd::ReadFor(DWORD timeoutMs)
{
    return ReadAtLeast(static_cast<size_t>(-1), timeoutMs);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& folder,
                         const std::string& outputFile)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    HANDLE out = INVALID_HANDLE_VALUE;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        out = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                          CREATE_ALWAYS, 0, nullptr);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out;
        si.hStdError = out;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::string line = commandLine;
    const bool started =
        CreateProcessA(nullptr, &line[0], nullptr, nullptr, out != INVALID_HANDLE_VALUE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &si, &pi) != 0;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return started;
}

DWORD ChildProcess::ExitCode(DWORD timeoutMs)
{
    DWORD code = 12345;
    if (pi.hProcess &&
        WaitFor([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs))
        GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

DWORD ChildProcess::Close(const char* windowClass, DWORD timeoutMs)
{
    if (!pi.hProcess) return 12345;
    if (windowClass)
        if (HWND w = FindWindowA(windowClass, nullptr)) PostMessageA(w, WM_CLOSE, 0, 0);
    const DWORD code = ExitCode(timeoutMs);
    if (code == 12345) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    pi = PROCESS_INFORMATION();
    return code;
}

ChildProcess::~ChildProcess()
{
    Close(nullptr, 0);
}

std::string ErrorBoxText(HWND box)
{
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char buf[256] = {};
        char cls[64] = {};
        GetClassNameA(child, cls, sizeof cls);
        GetWindowTextA(child, buf, sizeof buf);
        if (std::string(cls) == "Static" && buf[0]) text += buf;
    }
    return text;
}

bool QuorvixRun::Start(const TempDir& dir, const std::string& settings, const std::string& name)
{
    // One left by a test that was stopped at its time limit would stand in
    // for this one (and keep it from starting).
    if (HWND stale = FindWindowA("Quorvix", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(stale, &pid);
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    exe = dir.Win(name);
    if (!CopyFileA((ModuleDir() + "\\..\\quorvix.exe").c_str(), exe.c_str(), FALSE)) return false;
    WriteBytes(exe.substr(0, exe.size() - 4) + ".ini", settings);
    return ChildProcess::Start("\"" + exe + "\"", dir.Win()) &&
           WaitFor([] { return FindWindowA("Quorvix", nullptr) != nullptr; }, 10000);
}

unsigned UserObjectsInUse()
{
    // A user handle is 0x20 + 2 * slot, with the slot's use count in the
    // high word. Freed slots are handed out again first, newest first; a
    // slot in its first use comes only when none is left, and then every
    // slot below it is either a probe or in use.
    const unsigned FIRST_HANDLE = 0x20;
    std::vector<HMENU> probes;
    unsigned inUse = 0;
    while (probes.size() < 30000) {
        HMENU probe = CreateMenu();
        if (!probe) break;
        probes.push_back(probe);
        const UINT_PTR handle = reinterpret_cast<UINT_PTR>(probe);
        if (HIWORD(handle) == 1) {
            const unsigned slot = (LOWORD(handle) - FIRST_HANDLE) / 2;
            inUse = slot + 1 - static_cast<unsigned>(probes.size());
            break;
        }
    }
    for (HMENU probe : probes) DestroyMenu(probe);
    return inUse;
}

ProcessMemory MemoryOf(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    ProcessMemory m;
    if (GetProcessMemoryInfo(process, &pmc, sizeof pmc)) {
        m.workingSetKb = static_cast<double>(pmc.WorkingSetSize) / 1024.0;
        m.peakWorkingSetKb = static_cast<double>(pmc.PeakWorkingSetSize) / 1024.0;
        m.privateKb = static_cast<double>(pmc.PagefileUsage) / 1024.0;
    }
    return m;
}

int UnixPidOf(const std::string& folder, const std::string& exeName)
{
    WIN32_FIND_DATAA f;
    HANDLE find = FindFirstFileA("Z:\\proc\\*", &f);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int found = 0;
    do {
        const int pid = std::atoi(f.cFileName);
        if (pid <= 0) continue;
        const std::string line = ReadBytes("Z:\\proc\\" + std::to_string(pid) + "\\cmdline");
        if (line.find(folder) != std::string::npos && line.find(exeName) != std::string::npos)
            found = pid;
    } while (!found && FindNextFileA(find, &f));
    FindClose(find);
    return found;
}

double LinuxCpuSeconds(int pid)
{
    if (pid <= 0) return -1;
    const std::string stat = ReadBytes("Z:\\proc\\" + std::to_string(pid) + "\\stat");
    // The command name is in parentheses and may hold blanks; count after it.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    std::string field;
    for (size_t i = close + 2; i <= stat.size(); ++i) {
        if (i == stat.size() || stat[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += stat[i];
        }
    }
    // utime and stime, fields 14 and 15 of the line, in 1/100 s.
    if (fields.size() < 13) return -1;
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / 100.0;
}
