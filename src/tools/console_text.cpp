#include "console_text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Put(unsigned codePage, std::FILE* stream, const char* format, va_list arguments)
{
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    if (length < 0) {
        va_end(again);
        return;
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    std::fflush(stream);
    HANDLE out = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (length > 0 && GetConsoleMode(out, &mode)) {
        const int wide = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
        std::vector<wchar_t> shown(static_cast<size_t>(wide > 0 ? wide : 1));
        MultiByteToWideChar(codePage, 0, text.data(), length, shown.data(), wide);
        DWORD written = 0;
        if (wide > 0 &&
            WriteConsoleW(out, shown.data(), static_cast<DWORD>(wide), &written, nullptr))
            return;
    }
    std::fwrite(text.data(), 1, static_cast<size_t>(length), stream);
    std::fflush(stream);
}

} // namespace

void Say(std::FILE* stream, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Put(CP_ACP, stream, format, arguments);
    va_end(arguments);
}

void SayIn(unsigned codePage, std::FILE* stream, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Put(codePage, stream, format, arguments);
    va_end(arguments);
}

std::string Printable(const std::string& line)
{
    std::string out;
    for (unsigned char c : line) {
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}
