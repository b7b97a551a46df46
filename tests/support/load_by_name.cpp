// Test helper: loads the DLL named on its command line by name alone, as a
// program without any care would; exit code 0 when it loaded.
#include <windows.h>

int main(int argc, char** argv)
{
    return argc == 2 && LoadLibraryA(argv[1]) ? 0 : 1;
}
