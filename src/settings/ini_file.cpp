#include "ini_file.h"

#include <windows.h>

#include <memory>

#include "../util/text.h"

namespace {

// A list of names, each ended by a zero and the list by one more, as the
// profile calls fill it.
std::vector<std::string> NameList(const char* section, const std::string& file)
{
    std::vector<std::string> names;
    const DWORD size = KEY_LIST_SIZE;
    // 32 KiB on the heap rather than on the caller's stack (any thread may
    // call), released on every path.
    std::unique_ptr<char[]> list(new char[size]);
    const DWORD copied =
        section ? GetPrivateProfileStringA(section, nullptr, nullptr, list.get(), size, file.c_str())
                : GetPrivateProfileSectionNamesA(list.get(), size, file.c_str());
    if (copied == 0) return names;
    // The platform leaves a double zero at the end, also when it had to cut the list.
    list[size - 1] = '\0';
    list[size - 2] = '\0';
    for (const char* p = list.get(); *p; p += TextLength(p) + 1) names.push_back(std::string(p));
    return names;
}

} // namespace

std::vector<std::string> LoadKeyNames(const std::string& section, const std::string& file)
{
    return NameList(section.c_str(), file);
}

std::vector<std::string> SectionNames(const std::string& file)
{
    return NameList(nullptr, file);
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& file)
{
    char value[VALUE_LIMIT + 1];
    value[0] = '\0';
    GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), value,
                             sizeof value, file.c_str());
    value[sizeof value - 1] = '\0';
    return std::string(value, static_cast<size_t>(TextLength(value))).substr(0, VALUE_LIMIT);
}
