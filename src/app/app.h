#pragma once
// Application shell: start-up, the hidden window, the tray icon and its menu,
// the settings file. Everything here runs on the main thread.

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "resource.h"

// The tray icon's callback message.
const UINT MSG_TRAYNOTIFY = WM_APP + 1;
// The tooltip; TrayModify passes it too, though without NIF_TIP it stays unused.
const char* const TRAY_TIP = "Quorvix";

// Set once at start-up; read by every subsystem (the reader thread posts to it).
extern HWND MainWindow;
extern HICON MainIcon;
extern HICON NotConnectedIcon;
extern HICON ReceiveIcon;
extern HICON ErrorIcon;

// Settings, written once by LoadSettings before the port opens, then only read.
extern std::string IniPath;
extern std::string PortName;
extern int32_t PingInterval;
extern int32_t WaitPortTimeout;

// The module file name with its last four characters replaced by ".ini".
std::string SettingsPathFor(const std::string& moduleFile);
// quorvix.ini in the running executable's folder: the console tools shipped
// beside the program read the program's own settings.
std::string ProgramSettingsPath();
// Settings of the file beside the executable.
void LoadSettings();
// Settings, the phone's init string and the command table from the given file.
void LoadSettingsFrom(const std::string& file);

bool TrayAdd(HWND window, UINT id, HICON icon, UINT callbackMessage, const char* tip);
bool TrayModify(HWND window, UINT id, UINT flags, HICON icon, const char* tip);
bool TrayDelete(HWND window, UINT id);
void ShowTrayMenu(HWND owner);

// A modal box with no owner, caption "Error" and the error icon.
void ShowError(const char* text);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The notification record the three tray calls hand to the shell.
NOTIFYICONDATAA TrayRecord(HWND window, UINT id, UINT flags, HICON icon, UINT callbackMessage,
                           const char* tip);
