#pragma once
// The application, on top of the subsystems: start-up, the hidden window,
// the tray icon and its menu, the idle pass that turns received lines into
// actions, and the reconnect loop. Everything here runs on the main thread.

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "../settings/settings_file.h"
#include "resource.h"

// The tray icon's callback message.
const UINT MSG_TRAYNOTIFY = WM_APP + 1;
// The tooltip; TrayModify passes it too, though without NIF_TIP it stays unused.
const char* const TRAY_TIP = "Quorvix";

// Set once at start-up; main thread.
extern HWND MainWindow;
// Written by LoadSettings at start-up, before the port opens, then only
// read; WM_DESTROY empties its command tables. Main thread.
extern Settings CurrentSettings;

// The settings file beside the program, named after its own long name, into
// CurrentSettings; false (nothing read) when that file cannot be named.
bool LoadSettings();

// --- Tray (tray.cpp).

// What the tray picture shows.
enum class LinkState { Connected, KeyHeld, NotConnected, Error };
// The four pictures from the executable's resources, at the system's
// small-icon size.
void LoadTrayPictures(HINSTANCE instance);
HICON LinkStatePicture(LinkState state);
// The one place that changes the picture, and what it was last told to show.
void ShowLinkState(LinkState state);
LinkState ShownLinkState();
// The tooltip: "Quorvix", or "Quorvix: " and why the link is down (cut to
// what the shell shows). Changed only when it differs.
void ShowLinkReason(const std::string& reason);
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

// A modal box with no owner, caption "Error" and the error icon. Also the
// link's report of a failure, then on the thread that met it.
void ShowError(const char* text);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// --- The idle pass (idle_pass.cpp).

// One pass of the main loop when no message waits: received lines, the held
// key's step, then an alertable 10 ms sleep.
void IdleWork();
// Every complete received line: a press runs each matching command (read
// from the settings file now) and shows the key held; a release lets go.
void ProcessReceived();

// --- The link's life (connection.cpp).

// The timer that spaces the attempts to reopen a lost link, and the pause.
const UINT_PTR RETRY_TIMER = 2;
const UINT RETRY_PAUSE = 1000;
// How long Exit waits for an open that hangs in the driver before the
// program ends regardless.
const DWORD EXIT_OPEN_WAIT = 2000;

// Starts opening CurrentSettings' port on the opener thread; PortOpened
// goes on when MSG_PORTOPENED comes. When no open can start now, it is
// tried again after RETRY_PAUSE.
void ConnectPort();
// The open ended: the link starts and shows connected; a first open that
// failed because the port is missing or busy shows the error picture and
// "Failed to open " with the reason; any other failed open (a phone that is
// off or away, also at start) shows "not connected" with the reason in the
// tooltip and is tried again after RETRY_PAUSE (RETRY_TIMER, then RetryOpen).
void PortOpened();
void RetryOpen();
// Closes the port and starts reopening it, one attempt a second, while the
// window keeps answering. A second call while that runs does nothing.
void ReconnectPort();
// At exit: no more attempts; an open still under way is given up within
// EXIT_OPEN_WAIT.
void StopConnecting();

// --- The keypad page's life (keypad_page.cpp).

// At start: the page's server when KeypadPort turns it on (a key made and
// written first where the file has none); a failure is shown, and the
// serial link goes on regardless.
void StartKeypadPage();
// The menu's item: turns the keypad on where it is off (KeypadPort, the
// default port unless the file names one, and a key written into the
// settings file), then shows the pairing window.
void TurnOnKeypad();
// "New key": a new secret, written and in force; every page is dropped.
// False, with the reason and nothing changed, when it cannot be written.
bool RenewKeypadKey(std::string& why);
// The page's address for each private IPv4 address of the PC that is up:
// http://ADDRESS:PORT/#KEY.
std::vector<std::string> KeypadAddresses();
// The window with the addresses, their QR codes and "New key"; one at a
// time, owned by MainWindow (pairing_window.cpp).
void ShowPairingWindow();
