#pragma once
// Text routines with the program's conventions: positions are 1-based, a
// search that finds nothing gives -1, blanks are the codes 1..32, numbers are
// read leniently up to the first character that does not belong and wrap
// modulo 2^32. Searches and TrimLeading stop at the first zero character.
// No state; any thread may call them.

#include <cstdint>
#include <string>

int32_t ParseDecimal(const std::string& s);
uint32_t ParseHex(const std::string& s);

std::string TrimTrailing(const std::string& s);
std::string TrimLeading(const std::string& s);
std::string TrimBlanks(const std::string& s);

// Names as the profile functions compare them: ASCII letters without case.
bool SameName(const std::string& a, const std::string& b);

int CharPosition(const std::string& s, char ch);
int FirstOfAny(const std::string& s, const std::string& set);
int SubstringPosition(const std::string& s, const std::string& sub);
std::string TailFrom(const std::string& s, int position);
// Cuts the text before the first delimiter into token and leaves the text
// after that delimiter in s; without a delimiter all of s becomes the token.
void SplitToken(std::string& s, const std::string& delimiters, std::string& token);

// Zero-terminated texts, as Win32 hands them back. Null means the empty text.
int TextLength(const char* p);
const char* SafeText(const char* p);
const char* FindChar(const char* p, char ch);
int CompareLimited(const char* a, const char* b, int n);
