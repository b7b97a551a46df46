#include "program_folder.h"
#include "program_folder_testing.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

// Wide text without its terminating zero. A vector rather than std::wstring,
// whose library code alone would add about 24 KiB to every program.
typedef std::vector<wchar_t> WideText;

// The last four characters go whatever they are (normally ".exe").
template <typename Text>
Text WithIniEnding(const Text& moduleFile)
{
    const size_t keep = moduleFile.size() > 4 ? moduleFile.size() - 4 : 0;
    Text path(moduleFile.begin(), moduleFile.begin() + static_cast<std::ptrdiff_t>(keep));
    for (const char* c = ".ini"; *c; ++c)
        path.push_back(static_cast<typename Text::value_type>(*c));
    return path;
}

} // namespace

std::string SettingsPathFor(const std::string& moduleFile)
{
    return WithIniEnding(moduleFile);
}

namespace {

// The running program's full file name, however long; empty on failure.
WideText ModuleFileName()
{
    WideText name(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) return WideText();
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        if (name.size() > 32768) return WideText();
        name.resize(name.size() * 2);
    }
}

} // namespace

UINT(WINAPI* AnsiCodePage)() = GetACP;

bool ToCodePage(UINT codePage, const wchar_t* text, int length, std::string& out)
{
    out.clear();
    if (length <= 0) return true;
    // CP_ACP by its number: with the system's code page UTF-8 (65001) the
    // flags below would make every call fail.
    if (codePage == CP_ACP) codePage = AnsiCodePage();
    // UTF-8 and a few others take neither these flags nor the used-default
    // pointer: the call fails outright with them. Those are checked by
    // converting back instead.
    CPINFOEXW info;
    const bool flagless = codePage == CP_UTF8 || codePage == CP_UTF7 || codePage == 54936 ||
                          (codePage >= 50220 && codePage <= 50229) ||
                          (codePage >= 57002 && codePage <= 57011) || codePage == 42 ||
                          !GetCPInfoExW(codePage, 0, &info);
    const DWORD flags = flagless ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = flagless ? nullptr : &lossy;
    const int size = WideCharToMultiByte(codePage, flags, text, length, nullptr, 0, nullptr, lossyOut);
    if (size <= 0 || lossy) return false;
    out.assign(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(codePage, flags, text, length, &out[0], size, nullptr, lossyOut) != size ||
        lossy)
        return false;
    if (!flagless) return true;
    const int back = MultiByteToWideChar(codePage, 0, out.data(), size, nullptr, 0);
    if (back != length) return false;
    std::vector<wchar_t> again(static_cast<size_t>(back));
    MultiByteToWideChar(codePage, 0, out.data(), size, again.data(), back);
    return std::equal(again.begin(), again.end(), text);
}

namespace {

// The text in the ANSI code page; false when a character has no place there
// (the ANSI call would turn it into '?').
bool ToAnsi(const WideText& text, std::string& ansi)
{
    return ToCodePage(CP_ACP, text.data(), static_cast<int>(text.size()), ansi);
}

WideText Joined(const WideText& a, const WideText& b)
{
    WideText joined(a);
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

// The short (8.3) form of an existing path; empty when it has none.
WideText ShortForm(const WideText& path)
{
    WideText terminated(path);
    terminated.push_back(L'\0');
    const DWORD size = GetShortPathNameW(terminated.data(), nullptr, 0);
    if (size == 0) return WideText();
    WideText out(size);
    const DWORD length = GetShortPathNameW(terminated.data(), out.data(), size);
    if (length == 0 || length >= size) return WideText();
    out.resize(length);
    return out;
}

// folder + file in a form the ANSI profile calls can open: as it stands when
// the code page holds it, else with the folder's short form, else wholly
// short (for a file that exists). A form within MAX_PATH is preferred; a
// longer one is still used whole rather than cut.
bool AnsiPathOf(const WideText& folder, const WideText& file, std::string& path)
{
    const WideText forms[] = {Joined(folder, file), Joined(ShortForm(folder), file),
                              ShortForm(Joined(folder, file))};
    std::string usable;
    for (const WideText& form : forms) {
        std::string ansi;
        if (form.size() <= file.size() || !ToAnsi(form, ansi)) continue;
        if (ansi.size() < MAX_PATH) {
            path = ansi;
            return true;
        }
        if (usable.empty()) usable = ansi;
    }
    path = usable;
    return !usable.empty();
}

// The settings file in the running program's folder: fileName, or without
// it the program's own long name with its last four characters replaced.
bool SettingsFileBesideProgram(const wchar_t* fileName, std::string& path)
{
    const WideText module = ModuleFileName();
    size_t slash = module.size();
    while (slash > 0 && module[slash - 1] != L'\\' && module[slash - 1] != L'/') --slash;
    if (slash == 0) return false;
    const auto at = static_cast<std::ptrdiff_t>(slash);
    const WideText folder(module.begin(), module.begin() + at);
    if (fileName)
        return AnsiPathOf(folder, WideText(fileName, fileName + lstrlenW(fileName)), path);
    const WideText settings = WithIniEnding(module);
    return AnsiPathOf(folder, WideText(settings.begin() + at, settings.end()), path);
}

} // namespace

std::string SettingsUnreachable()
{
    const WideText module = ModuleFileName();
    size_t slash = module.size();
    while (slash > 0 && module[slash - 1] != L'\\' && module[slash - 1] != L'/') --slash;
    std::string folder;
    if (slash > 0) {
        // As the ANSI calls see it: what the code page lacks comes out as '?'.
        const int length = static_cast<int>(slash);
        const int size = WideCharToMultiByte(CP_ACP, 0, module.data(), length, nullptr, 0, nullptr,
                                             nullptr);
        if (size > 0) {
            folder.assign(static_cast<size_t>(size), '\0');
            WideCharToMultiByte(CP_ACP, 0, module.data(), length, &folder[0], size, nullptr,
                                nullptr);
        }
    }
    return "The settings file cannot be read: the program's folder " + folder +
           " has characters that this system's code page cannot show (shown here as ?), and "
           "its drive keeps no short names for it. Move the program to a folder whose name has "
           "only characters of this code page.";
}

bool QuorvixIniPath(std::string& path)
{
    return SettingsFileBesideProgram(L"quorvix.ini", path);
}

bool OwnSettingsPath(std::string& path)
{
    return SettingsFileBesideProgram(nullptr, path);
}
