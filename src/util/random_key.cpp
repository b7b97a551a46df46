#include "random_key.h"

#include <windows.h>

#include <vector>

#include "system_dll.h"

namespace {

// BCryptGenRandom's signature; bcrypt.dll is no known DLL, so it is loaded
// from the system folder rather than imported.
typedef LONG(WINAPI* GenRandom)(void* algorithm, unsigned char* buffer, ULONG size, ULONG flags);
const ULONG USE_SYSTEM_PREFERRED_RNG = 0x00000002;

} // namespace

bool MakeRandomKey(size_t bytes, std::string& hex)
{
    HMODULE bcrypt = LoadSystemDll(L"bcrypt.dll");
    GenRandom generate = SystemFunction<GenRandom>(bcrypt, "BCryptGenRandom");
    std::vector<unsigned char> random(bytes);
    const bool made = generate && generate(nullptr, random.data(), static_cast<ULONG>(bytes),
                                           USE_SYSTEM_PREFERRED_RNG) >= 0;
    if (bcrypt) FreeLibrary(bcrypt);
    if (!made) return false;
    static const char digits[] = "0123456789abcdef";
    hex.clear();
    for (unsigned char b : random) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    SecureZeroMemory(random.data(), random.size());
    return true;
}
