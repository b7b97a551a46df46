#pragma once
// What the console tools print. A console shows the OEM code page while the
// tools' texts (system messages, paths, the settings file) are ANSI: to a
// console they go as wide characters, so that a Russian path or message
// reads right; redirected, the bytes go unchanged. Main thread.

#include <cstdio>
#include <string>

// printf to stream (stdout or stderr), the text in the ANSI code page.
void Say(std::FILE* stream, const char* format, ...);
// The same for text in another code page (CP_UTF8 for a Unicode settings file).
void SayIn(unsigned codePage, std::FILE* stream, const char* format, ...);
// Bytes a console would garble are shown as \xNN.
std::string Printable(const std::string& text);
