#include "app.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>

#include "../link/keypad.h"
#include "../settings/keypad_settings.h"
#include "../settings/settings_edit.h"
#include "../util/random_key.h"

namespace {

// The page's files, from the executable's resources.
std::vector<KeypadFile> PageFiles()
{
    static const struct {
        const char* resource;
        const char* path;
        const char* type;
    } files[] = {{"KEYPAD_HTML", "/", "text/html; charset=utf-8"},
                 {"KEYPAD_CSS", "/keypad.css", "text/css; charset=utf-8"},
                 {"KEYPAD_JS", "/keypad.js", "text/javascript; charset=utf-8"}};
    std::vector<KeypadFile> loaded;
    for (const auto& f : files) {
        HRSRC found = FindResourceA(nullptr, f.resource, MAKEINTRESOURCEA(10));
        HGLOBAL data = found ? LoadResource(nullptr, found) : nullptr;
        const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
        if (bytes) loaded.push_back({f.path, f.type, std::string(bytes, SizeofResource(nullptr, found))});
    }
    return loaded;
}

// Port and key into the settings file, and into CurrentSettings once written.
bool WriteKeypadSettings(uint16_t port, const std::string& key, std::string& why)
{
    const std::string portText = std::to_string(port);
    if (!EditSettingsFile(
            CurrentSettings.IniPath,
            [&](const std::string& text, unsigned) {
                return WithSetting(WithSetting(text, KEYPAD_PORT_SETTING, portText), KEYPAD_KEY_SETTING, key);
            },
            why))
        return false;
    CurrentSettings.KeypadPort = port;
    CurrentSettings.KeypadKey = key;
    return true;
}

bool NewKeypadKey(std::string& key, std::string& why)
{
    if (MakeRandomKey(KEYPAD_KEY_DIGITS / 2, key)) return true;
    why = "the system's random generator cannot be had";
    return false;
}

// The key the settings hold, or a new one written there.
bool KeypadKeyFor(uint16_t port, std::string& key, std::string& why)
{
    key = CurrentSettings.KeypadKey;
    if (IsKeypadKey(key) && CurrentSettings.KeypadPort == port) return true;
    if (!IsKeypadKey(key) && !NewKeypadKey(key, why)) return false;
    return WriteKeypadSettings(port, key, why);
}

bool OpenKeypad(uint16_t port, std::string& why)
{
    std::string key;
    if (!KeypadKeyFor(port, key, why)) return false;
    SetKeypadTaker();
    return StartKeypad(port, key, PageFiles(), why);
}

void ShowKeypadFailure(const std::string& why)
{
    ShowError(("Failed to open the keypad page: " + why +
               ". The phone on the serial port works as before.")
                  .c_str());
}

bool PrivateIPv4(const sockaddr_in& a)
{
    const unsigned long ip = ntohl(a.sin_addr.s_addr);
    return (ip >> 24) == 10 || (ip >> 20) == 0xAC1 || (ip >> 16) == 0xC0A8;
}

} // namespace

void StartKeypadPage()
{
    if (CurrentSettings.KeypadPort == 0) return;
    const uint16_t port = KeypadPortOf(CurrentSettings.KeypadPort);
    std::string why;
    if (port == 0)
        ShowKeypadFailure("KeypadPort " + std::to_string(CurrentSettings.KeypadPort) +
                          " is no port (1 to 65535)");
    else if (!OpenKeypad(port, why))
        ShowKeypadFailure(why);
}

void TurnOnKeypad()
{
    if (!KeypadRunning()) {
        uint16_t port = KeypadPortOf(CurrentSettings.KeypadPort);
        if (port == 0) port = KEYPAD_DEFAULT_PORT;
        std::string why;
        if (!OpenKeypad(port, why)) {
            ShowKeypadFailure(why);
            return;
        }
    }
    ShowPairingWindow();
}

bool RenewKeypadKey(std::string& why)
{
    std::string key;
    if (!NewKeypadKey(key, why)) return false;
    if (!WriteKeypadSettings(KeypadPortOf(CurrentSettings.KeypadPort), key, why)) return false;
    ChangeKeypadKey(key);
    return true;
}

std::vector<std::string> KeypadAddresses()
{
    std::vector<std::string> addresses;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return addresses;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    INTERFACE_INFO interfaces[32];
    DWORD bytes = 0;
    if (s != INVALID_SOCKET &&
        WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, interfaces, sizeof interfaces, &bytes, nullptr,
                 nullptr) == 0) {
        for (DWORD i = 0; i < bytes / sizeof(INTERFACE_INFO); ++i) {
            const sockaddr_in& a = interfaces[i].iiAddress.AddressIn;
            if (!(interfaces[i].iiFlags & IFF_UP) || a.sin_family != AF_INET || !PrivateIPv4(a)) continue;
            char text[INET_ADDRSTRLEN] = "";
            const unsigned long ip = ntohl(a.sin_addr.s_addr);
            snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255, ip & 255);
            addresses.push_back(std::string("http://") + text + ":" +
                                std::to_string(CurrentSettings.KeypadPort) + "/#" + CurrentSettings.KeypadKey);
        }
    }
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return addresses;
}
