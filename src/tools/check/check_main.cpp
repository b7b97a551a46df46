// quorvix-check: reports every setting in a settings file that would silently
// do nothing or something unexpected. Exit code 0 clean (hints at most), 1 warnings, 2 unreadable.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../console_text.h"
#include "../../settings/keypad_settings.h"
#include "../../settings/settings_check.h"
#include "../../settings/settings_file.h"
#include "../../settings/settings_edit.h"
#include "../../settings/settings_text.h"
#include "../../util/program_folder.h"
#include "../../util/system_dll.h"

namespace {

// Whether a program listens on the keypad page's port now.
bool PortTaken(uint16_t port)
{
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    const bool taken = s != INVALID_SOCKET &&
                       bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) == SOCKET_ERROR &&
                       (WSAGetLastError() == WSAEADDRINUSE || WSAGetLastError() == WSAEACCES);
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return taken;
}

} // namespace

int main(int argc, char** argv)
{
    LoadDllsFromSystemOnly();
    std::string path;
    if (argc == 3 && std::strcmp(argv[1], "--settings") == 0) {
        path = argv[2];
    } else if (argc == 2 && argv[1][0] != '-') {
        path = argv[1];
    } else if (argc != 1) {
        Say(stderr, "usage: quorvix-check [--settings FILE]\n");
        return 2;
    } else if (!QuorvixIniPath(path)) {
        Say(stderr, "%s\n", SettingsUnreachable().c_str());
        return 2;
    }
    std::string text, why;
    if (!ReadWholeFile(path, text, why)) {
        Say(stderr, "%s: cannot be read: %s\n", path.c_str(),
            why.empty() ? "there is no such file" : why.c_str());
        return 2;
    }
    std::vector<Finding> findings = CheckSettings(text);
    // The profile calls look for a bare name in the Windows folder: the full path.
    char full[MAX_PATH * 2] = "";
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    const std::string absolute = length > 0 && length < sizeof full ? full : path;
    const uint16_t keypadPort = KeypadPortOf(LoadSettingsFrom(absolute).KeypadPort);
    if (keypadPort != 0 && PortTaken(keypadPort))
        findings.push_back({0, "KeypadPort " + std::to_string(keypadPort) +
                                   " is in use now, by another program or by a Quorvix that runs "
                                   "with the keypad page on; another program's port keeps the page "
                                   "from opening: choose another"});
    // The findings quote the file, which a Unicode file gives as UTF-8 (and
    // one with a UTF-8 mark was written in UTF-8, whatever Windows reads).
    const SettingsEncoding encoding = DecodeSettings(text).encoding;
    const unsigned codePage = encoding == SettingsEncoding::Utf16LE ||
                                      encoding == SettingsEncoding::Utf8Marked
                                  ? CP_UTF8
                                  : CP_ACP;
    unsigned warnings = 0;
    for (const Finding& f : findings) {
        const char* kind = f.hint ? "hint: " : "";
        warnings += f.hint ? 0 : 1;
        if (f.line > 0)
            Say(stdout, "%s:%d: ", path.c_str(), f.line);
        else
            Say(stdout, "%s: ", path.c_str());
        SayIn(codePage, stdout, "%s%s\n", kind, f.message.c_str());
    }
    if (warnings == 0) {
        Say(stdout, "%s: no problems found\n", path.c_str());
        return 0;
    }
    Say(stdout, "%u warning%s\n", warnings, warnings == 1 ? "" : "s");
    return 1;
}
