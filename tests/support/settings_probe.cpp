// Test helper: loads the settings beside itself and prints what it found.
#include <cstdio>

#include "app/app.h"
#include "keys/keys.h"

int main()
{
    if (!LoadSettings()) {
        std::printf("%s\n", SETTINGS_UNREACHABLE);
        return 1;
    }
    std::printf("IniPath=%s\n", IniPath.c_str());
    std::printf("Port=[%s]\n", PortName.c_str());
    std::printf("PingInterval=%d\n", static_cast<int>(PingInterval));
    std::printf("WaitPortTimeout=%d\n", static_cast<int>(WaitPortTimeout));
    std::printf("Commands=%u\n", static_cast<unsigned>(CommandTable.size()));
    for (const auto& name : CommandTable) std::printf("Key=[%s]\n", name.c_str());
    return 0;
}
