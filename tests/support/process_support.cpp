#include "process_support.h"

#include <psapi.h>

#include <algorithm>

#include "wine_support.h"

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

HWND CreateTestWindow(const char* className, WNDPROC proc)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& folder,
                         const std::string& outputFile)
{
    STARTUPINFOW si = {};
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
    std::wstring line = Wide(commandLine);
    const std::wstring in = Wide(folder);
    const bool started =
        !line.empty() && CreateProcessW(nullptr, &line[0], nullptr, nullptr, out != INVALID_HANDLE_VALUE,
                                        0, nullptr, in.empty() ? nullptr : in.c_str(), &si, &pi) != 0;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return started;
}

int RunProgram(const std::string& commandLine, DWORD timeoutMs, std::string* output)
{
    char outName[MAX_PATH] = {};
    if (output) {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "qvx", 0, outName);
    }
    DWORD code = static_cast<DWORD>(-1);
    {
        ChildProcess child;
        if (child.Start(commandLine, "", outName)) {
            code = child.ExitCode(timeoutMs);
            if (code == ChildProcess::RUNNING) code = static_cast<DWORD>(-1);
        }
    }
    if (output) {
        *output = ReadBytes(outName);
        // Text-mode output ends its lines with CR LF.
        output->erase(std::remove(output->begin(), output->end(), '\r'), output->end());
        DeleteFileA(outName);
    }
    return static_cast<int>(code);
}

DWORD ChildProcess::ExitCode(DWORD timeoutMs)
{
    DWORD code = RUNNING;
    if (pi.hProcess &&
        WaitFor([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs))
        GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

DWORD ChildProcess::Close(const char* windowClass, DWORD timeoutMs)
{
    if (!pi.hProcess) return RUNNING;
    if (windowClass)
        if (HWND w = FindWindowA(windowClass, nullptr)) PostMessageA(w, WM_CLOSE, 0, 0);
    const DWORD code = ExitCode(timeoutMs);
    if (code == RUNNING) TerminateProcess(pi.hProcess, 1);
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

bool QuorvixRun::Start(const std::string& folder, const std::string& settings,
                       const std::string& name)
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
    exe = folder + "\\" + name;
    if (!CopyFileW(Wide(ModuleDir() + "\\..\\quorvix.exe").c_str(), Wide(exe).c_str(), FALSE))
        return false;
    WriteBytes(exe.substr(0, exe.size() - 4) + ".ini", settings);
    return ChildProcess::Start("\"" + exe + "\"", folder) &&
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

