#include "keys.h"

#include <windows.h>

#include <memory>

#include "../util/text.h"

std::vector<std::string> CommandTable;

void LoadCommandSection(const std::string& section, const std::string& file)
{
    CommandTable.clear();
    const DWORD size = 0x7FFF;
    // On the heap: too big for the main thread's stack, and released on every path.
    std::unique_ptr<char[]> names(new char[size]);
    const DWORD copied = GetPrivateProfileStringA(section.c_str(), nullptr, nullptr,
                                                  names.get(), size, file.c_str());
    if (copied == 0) return;
    // The platform leaves a double zero at the end, also when it had to cut the list.
    names[size - 1] = '\0';
    names[size - 2] = '\0';
    for (const char* p = names.get(); *p; p += TextLength(p) + 1)
        CommandTable.push_back(std::string(p));
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& file)
{
    char value[0x100];
    value[0] = '\0';
    GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), value,
                             sizeof value, file.c_str());
    value[sizeof value - 1] = '\0';
    return std::string(value, static_cast<size_t>(TextLength(value))).substr(0, 255);
}
