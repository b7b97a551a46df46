#include "foreground_program.h"

#include <windows.h>

#include <vector>

#include "program_folder.h"
#include "program_folder_testing.h"

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

namespace {

// The name in wide characters; empty when it is empty or no text of the code page.
std::vector<wchar_t> WideName(const std::string& name, UINT codePage)
{
    const int length = static_cast<int>(name.size());
    const int size = MultiByteToWideChar(codePage, 0, name.data(), length, nullptr, 0);
    if (size <= 0) return std::vector<wchar_t>();
    std::vector<wchar_t> wide(static_cast<size_t>(size));
    MultiByteToWideChar(codePage, 0, name.data(), length, wide.data(), size);
    return wide;
}

} // namespace

bool SameFileName(const std::string& a, const std::string& b, unsigned codePage)
{
    if (a == b) return true;
    const UINT page = codePage == CP_ACP ? AnsiCodePage() : codePage;
    const std::vector<wchar_t> wa = WideName(a, page), wb = WideName(b, page);
    if (wa.empty() || wb.empty()) return false;
    // The file system's own rule: an ordinal comparison of the upper-cased
    // characters, the same in every locale.
    return CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}
