#include "link.h"

HANDLE PortHandle = INVALID_HANDLE_VALUE;

namespace {
// Written by the main thread before the first reader starts; read by both.
HWND LinkWindow = nullptr;
void (*ShowLinkError)(const char*) = nullptr;
} // namespace

void SetLinkReports(HWND window, void (*showError)(const char* text))
{
    LinkWindow = window;
    ShowLinkError = showError;
}

void ReportSilentLink()
{
    PostMessageA(LinkWindow, MSG_RECONNECT, 0, 0);
}

bool ReportPortOpened()
{
    return PostMessageA(LinkWindow, MSG_PORTOPENED, 0, 0) != 0;
}

void ReportLinkError(const char* text)
{
    if (ShowLinkError) ShowLinkError(text);
}

void StartLink(HANDLE port, const std::string& initString)
{
    PortHandle = port;
    ConfigurePort(PortHandle);
    PrepareReads();
    PrepareWrites();
    StartReader();
    SendToPort(initString);
}

bool OpenPort(const std::string& name, const std::string& initString)
{
    const HANDLE port = CreatePortHandle(name);
    if (port == INVALID_HANDLE_VALUE) return false;
    StartLink(port, initString);
    return true;
}

void ClosePort()
{
    if (PortHandle == INVALID_HANDLE_VALUE && !RunningReader()) return;
    EndPendingWrite();
    EndReaderThread();
    if (PortHandle != INVALID_HANDLE_VALUE) CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
    FreeReads();
    FreeWrites();
}
