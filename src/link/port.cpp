#include "link.h"

#include <atomic>

HANDLE PortHandle = INVALID_HANDLE_VALUE;

namespace {
// Written by the main thread before the first reader starts; read by both.
HWND LinkWindow = nullptr;
void (*ShowLinkError)(const char*) = nullptr;
// Set by the reader when it posts a failure, cleared once the window's
// thread has shown it: one box at a time, as when the reader showed it.
std::atomic<bool> ErrorPosted{false};
// The posted failure's text (of static storage), written before the post.
std::atomic<const char*> PostedError{nullptr};
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

void ReportPortOpened()
{
    PostMessageA(LinkWindow, MSG_PORTOPENED, 0, 0);
}

void ReportLinkError(const char* text)
{
    if (LinkWindow && GetWindowThreadProcessId(LinkWindow, nullptr) != GetCurrentThreadId()) {
        if (ErrorPosted.exchange(true)) return;
        PostedError = text;
        if (!PostMessageA(LinkWindow, MSG_LINKERROR, 0, 0)) ErrorPosted = false;
        return;
    }
    if (ShowLinkError) ShowLinkError(text);
}

void ShowPostedLinkError()
{
    const char* text = PostedError;
    if (ShowLinkError && text) ShowLinkError(text);
    ErrorPosted = false;
}

std::string StartLink(HANDLE port, const std::string& initString)
{
    PortHandle = port;
    std::string refused;
    ConfigurePort(PortHandle, refused);
    PrepareReads();
    PrepareWrites();
    StartReader();
    SendToPort(initString);
    return refused;
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
