#pragma once
// The keypad page's two settings, KeypadPort and KeypadKey, as the program
// and the checker read them. No state; any thread.

#include <cstdint>
#include <string>

const char* const KEYPAD_PORT_SETTING = "KeypadPort";
const char* const KEYPAD_KEY_SETTING = "KeypadKey";
// A key's length in hexadecimal digits: 128 bits.
const size_t KEYPAD_KEY_DIGITS = 32;

// KEYPAD_KEY_DIGITS hexadecimal digits, nothing else.
bool IsKeypadKey(const std::string& key);
// The port a KeypadPort value turns on, 0 when it leaves the keypad off.
uint16_t KeypadPortOf(int32_t value);
// What is wrong with a KeypadPort value as the file gives it; "" when
// nothing is (0 and an absent value mean off and are fine).
std::string KeypadPortProblem(const std::string& value);
