#pragma once
// quorvix-monitor --learn: the [Commands] key name of each key the phone
// reports, for the keys that have no command yet. No system calls.

#include <string>
#include <vector>

// The key name for the key whose press line this is: the line from its last
// ": " on, without its final 1 ("+CKEV: 5,1" gives ": 5,", "+CKEV: 12,1"
// gives ": 12,"), so that it names that key's reports and no other key's.
// False, with the reason in why, when the line's form allows no such name
// or the name is one the settings file would not keep as written.
bool LearnedKeyName(const std::string& pressLine, std::string& name, std::string& why);

enum class KeySeen { New, Again, Mapped, Unlearnable };

struct LearnedKey {
    std::string name;
    std::string pressLine;
};

// What a press line is to a learning session: a key with a command already
// (Mapped, detail: its key name in the table), one learned before (Again,
// detail: its name), a new one (New, detail: its name, now in learned) or
// one that cannot be learned (detail: why). table: the settings' key names.
KeySeen SeeKeyPress(const std::string& pressLine, const std::vector<std::string>& table,
                    std::vector<LearnedKey>& learned, std::string& detail);

// The [Commands] line for a learned key: ": 5,= ; key 5: put a command here".
std::string LearnedCommandsLine(const std::string& name);
