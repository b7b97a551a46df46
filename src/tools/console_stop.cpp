#include "console_stop.h"

namespace {
// Made by WatchConsoleStop before the handler is installed; never closed.
HANDLE StopEvent = nullptr;
HANDLE SavedEvent = nullptr;
} // namespace

bool WatchConsoleStop()
{
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SavedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return StopEvent && SavedEvent && SetConsoleCtrlHandler(OnConsoleStop, TRUE);
}

HANDLE ConsoleStopEvent()
{
    return StopEvent;
}

void ConsoleWorkSaved()
{
    SetEvent(SavedEvent);
}

BOOL WINAPI OnConsoleStop(DWORD type)
{
    SetEvent(StopEvent);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(SavedEvent, CLOSE_WAIT);
    return TRUE;
}
