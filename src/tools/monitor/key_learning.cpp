#include "key_learning.h"

#include <algorithm>
#include <numeric>

#include "../../keys/keys.h"
#include "../../settings/ini_file.h"
#include "../../util/text.h"
#include "../../settings/settings_check.h"

namespace {

using std::string;

// The key itself, as the comment names it: ": 5," gives "5".
string KeyOf(const string& name)
{
    string key = name.substr(2);
    if (!key.empty() && key.back() == ',') key.pop_back();
    return key;
}

} // namespace

bool LearnedKeyName(const string& pressLine, string& name, string& why)
{
    name.clear();
    const size_t at = pressLine.rfind(": ");
    if (at == string::npos) {
        why = "the report has no ': ' before its key, so no key name can be made from it; "
              "write this key's line by hand";
        return false;
    }
    if (pressLine.back() != '1' || pressLine.size() - at < 4) {
        why = "the report does not end with its key and 1, so no key name can be made from it; "
              "write this key's line by hand";
        return false;
    }
    const string candidate = pressLine.substr(at, pressLine.size() - at - 1);
    // The checker's rule: a name inside ",1" or ",0" runs at every report.
    if (string(",1").find(candidate) != string::npos ||
        string(",0").find(candidate) != string::npos) {
        why = "its key name would be in every report";
        return false;
    }
    if (candidate.find('"') != string::npos) {
        why = "this phone writes its keys in quotes; a key name with quotes is not learned, "
              "since the settings checker takes quotes in a name for a slip. Write this key's "
              "line by hand, or set an InitString that makes the phone report +CKEV: 5,1";
        return false;
    }
    // An = would end the name, control characters and a blank at its end are
    // not kept; one beyond ASCII would be stored otherwise in a Unicode file.
    bool unkept = candidate.find('=') != string::npos || candidate.back() == ' ';
    for (char c : candidate) {
        const unsigned char code = static_cast<unsigned char>(c);
        unkept = unkept || code < 32 || code > 126;
    }
    if (unkept) {
        why = "its key name '" + candidate +
              "' holds a character the settings file does not "
              "keep in a key name as written; write this key's line by hand";
        return false;
    }
    // Anything else the settings checker would object to in the line.
    const std::vector<Finding> found =
        CheckSettings("[Settings]\r\nPort=COM1\r\n[Commands]\r\n" + LearnedCommandsLine(candidate));
    const auto objection =
        std::find_if(found.begin(), found.end(), [](const Finding& f) { return !f.hint; });
    if (objection != found.end()) {
        why = "the settings checker would say: " + objection->message +
              "; write this key's line by hand";
        return false;
    }
    name = candidate;
    return true;
}

KeySeen SeeKeyPress(const string& pressLine, const std::vector<string>& table,
                    std::vector<LearnedKey>& learned, string& detail)
{
    const auto mapped = std::find_if(table.begin(), table.end(), [&](const string& key) {
        return LineNamesKey(pressLine, key);
    });
    if (mapped != table.end()) {
        detail = *mapped;
        return KeySeen::Mapped;
    }
    string name;
    if (!LearnedKeyName(pressLine, name, detail)) return KeySeen::Unlearnable;
    const auto same = std::find_if(learned.begin(), learned.end(),
                                   [&](const LearnedKey& k) { return SameName(k.name, name); });
    if (same != learned.end() && same->name == name) {
        detail = name;
        return KeySeen::Again;
    }
    // The settings file finds key names without case, the program finds them
    // in reports with case: ": e," would be read as the line of ": E,".
    const auto cased = std::find_if(table.begin(), table.end(),
                                    [&](const string& key) { return SameName(key, name); });
    if (same != learned.end() || cased != table.end()) {
        detail = "its key name '" + name + "' differs only in case from '" +
                 (same != learned.end() ? same->name : *cased) +
                 "', and the settings file takes the two for one key; write this key's line "
                 "by hand";
        return KeySeen::Unlearnable;
    }
    size_t listBytes = std::accumulate(
        table.begin(), table.end(), 1 + name.size() + 1,
        [](size_t sum, const string& key) { return sum + key.size() + 1; });
    listBytes = std::accumulate(
        learned.begin(), learned.end(), listBytes,
        [](size_t sum, const LearnedKey& k) { return sum + k.name.size() + 1; });
    if (listBytes > KEY_LIST_SIZE - 1) {
        detail = "the [Commands] key names would pass the " + std::to_string(KEY_LIST_SIZE) +
                 " bytes that the program loads; remove unused keys first";
        return KeySeen::Unlearnable;
    }
    // Unique among the keys seen: neither name may run at the other's press.
    const auto clash = std::find_if(learned.begin(), learned.end(), [&](const LearnedKey& k) {
        return LineNamesKey(k.pressLine, name) || LineNamesKey(pressLine, k.name);
    });
    if (clash != learned.end()) {
        detail = "its key name '" + name + "' and that of '" + clash->pressLine +
                 "' would each run at the other's press; write this key's line by hand";
        return KeySeen::Unlearnable;
    }
    learned.push_back({name, pressLine});
    detail = name;
    return KeySeen::New;
}

string LearnedCommandsLine(const string& name)
{
    const string comment = "; key " + KeyOf(name) + ": put a command here";
    // Only the value's first VALUE_LIMIT characters are read.
    if (comment.size() + 1 > VALUE_LIMIT) return name + "= ; put a command here";
    return name + "= " + comment;
}
