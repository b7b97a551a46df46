#include "foreground_program.h"

#include <windows.h>

#include "program_folder.h"

namespace {

// What follows the last \ or /.
std::string FileNamePart(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string ForegroundProgram()
{
    const HWND window = GetForegroundWindow();
    if (!window) return "";
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == 0) return "";
    // The limited right is what a process of another user or integrity
    // level still grants.
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return "";
    wchar_t image[MAX_PATH * 2];
    DWORD length = sizeof image / sizeof image[0];
    const BOOL named = QueryFullProcessImageNameW(process, 0, image, &length);
    CloseHandle(process);
    if (!named || length == 0) return "";
    // Section names are read through the ANSI calls: a name they cannot
    // spell must match nothing rather than a look-alike with '?'.
    std::string name;
    return ToCodePage(CP_ACP, image, static_cast<int>(length), name) ? FileNamePart(name) : "";
}
