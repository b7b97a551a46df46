#pragma once
// Secrets from the system's random generator. No state; any thread.

#include <string>

// bytes random bytes as lowercase hexadecimal digits (two a byte); false,
// and nothing made, when the system's generator cannot be had.
bool MakeRandomKey(size_t bytes, std::string& hex);
