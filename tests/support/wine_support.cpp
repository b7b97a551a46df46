#include "wine_support.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "process_support.h"

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

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0],
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

std::string ReadBytes(const std::string& path)
{
    std::string bytes;
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(f);
    return bytes;
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
    const std::string line = "Z:\\bin\\sh -c \"mkdir -p /tmp/quorvix-tests; (" + quoted + "); echo $? > " +
                       marker + ".tmp; mv " + marker + ".tmp " + marker + "\"";
    ChildProcess shell;
    if (!shell.Start(line)) return -1;
    if (!WaitFor([&] { return FileExists(winMarker); }, 30000)) return -1;
    const int code = std::atoi(ReadBytes(winMarker).c_str());
    DeleteFileA(winMarker.c_str());
    return code;
}

std::string ModuleDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\'));
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

namespace {
// Wine finds \\.\NAME as the link dosdevices/name (lower case).
std::string DeviceLink(std::string name)
{
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char* prefix = std::getenv("WINEPREFIX");
    return prefix ? std::string(prefix) + "/dosdevices/" + name : "";
}
} // namespace

bool MapPortName(const std::string& name, const std::string& unixTarget)
{
    const std::string link = DeviceLink(name);
    return !link.empty() && RunUnix("ln -sfn " + unixTarget + " " + link) == 0;
}

void UnmapPortName(const std::string& name)
{
    const std::string link = DeviceLink(name);
    if (!link.empty()) RunUnix("rm -f " + link);
}

bool MapComPort(int number, const std::string& unixTarget)
{
    return MapPortName("COM" + std::to_string(number), unixTarget);
}

void UnmapComPort(int number)
{
    UnmapPortName("COM" + std::to_string(number));
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
