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
// The keep-alive period without a usable PingInterval (missing, 0 or below).
const int32_t DEFAULT_PING_INTERVAL = 10000;
extern int32_t WaitPortTimeout;

// The module file name with its last four characters replaced by ".ini".
std::string SettingsPathFor(const std::string& moduleFile);
// Shown when the settings file beside the program cannot be named for the
// ANSI calls that read it.
extern const char* const SETTINGS_UNREACHABLE;
// quorvix.ini in the running executable's folder: the console tools shipped
// beside the program read the program's own settings. The path is one the
// ANSI calls can open (with short folder names where the code page cannot
// show the long ones); false when there is none.
bool ProgramSettingsPath(std::string& path);
// Settings of the file beside the executable, named after the executable's
// own long name; false (nothing read) when that file cannot be named.
bool LoadSettings();
// Settings, the phone's init string and the command table from the given file.
void LoadSettingsFrom(const std::string& file);

// The four pictures from the executable's resources, at the system's
// small-icon size.
void LoadTrayPictures(HINSTANCE instance);
bool TrayAdd(HWND window, UINT id, HICON icon, UINT callbackMessage, const char* tip);
bool TrayModify(HWND window, UINT id, UINT flags, HICON icon, const char* tip);
bool TrayDelete(HWND window, UINT id);
void ShowTrayMenu(HWND owner);
// The message a new taskbar (Explorer started again) sends to every
// top-level window: the icons it had are gone.
UINT TaskbarCreatedMessage();
// Adds the icon again with its current picture: always after a new
// taskbar, otherwise only when it is known to be missing (its first add or
// a change failed, the shell not ready). Nothing after TrayDelete.
void TrayRestore(HWND window, bool evenIfShown);

// A modal box with no owner, caption "Error" and the error icon.
void ShowError(const char* text);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The notification record the three tray calls hand to the shell.
NOTIFYICONDATAA TrayRecord(HWND window, UINT id, UINT flags, HICON icon, UINT callbackMessage,
                           const char* tip);
