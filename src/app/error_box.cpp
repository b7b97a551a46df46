#include "app.h"

void ShowError(const char* text)
{
    MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR);
}
