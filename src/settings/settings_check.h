#pragma once
// What a settings file will really do, checked without touching the system:
// every setting that would silently do nothing or something unexpected.

#include <string>
#include <vector>

struct Finding {
    int line = 0;  // 1-based; 0 for the file as a whole
    std::string message;
    // A reminder rather than a fault: a key learned by quorvix-monitor --learn
    // that still waits for its command.
    bool hint = false;
};

// The file's text as the profile functions read it; findings in line order.
std::vector<Finding> CheckSettings(const std::string& text);
