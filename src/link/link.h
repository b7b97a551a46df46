#pragma once
// Phone link: the serial port, the writer, the reader thread and the text it
// receives. Three threads: the main thread closes and writes; the opener
// thread, one per open, opens the port and posts its end (BeginOpenPort);
// the reader thread, started by StartLink and ended by ClosePort, waits on
// the port and appends what arrives. The main thread takes that text line
// by line.

#include <windows.h>

#include <cstddef>
#include <string>

#include "line_split.h"
#include "serial_io.h"
#include "../settings/settings_file.h"

// Posted by the reader thread to the link's window when the phone has gone silent.
const UINT MSG_RECONNECT = WM_USER + 1;
// Posted by the opener thread to the link's window when an open has ended.
const UINT MSG_PORTOPENED = WM_USER + 2;
// Posted by the reader thread to the link's window when it met a failure,
// for the window's thread to show.
const UINT MSG_LINKERROR = WM_USER + 3;

const DWORD READER_WAIT_TIMEOUT = SILENCE_LIMIT;
// An unterminated line is taken whole once the phone has been quiet this long.
const DWORD LINE_TAIL_WAIT = 100;

// --- The port (port.cpp); main thread.

// Where the link reports, given before the first open: the window that
// gets MSG_RECONNECT, and the function that shows a failure's text, called
// on the window's thread (a modal box holds that thread meanwhile).
void SetLinkReports(HWND window, void (*showError)(const char* text));
// Through those: the phone went silent (posted), an open ended (posted; a
// port nobody takes is closed by AbandonOpenPort at Exit), a failure (shown
// at once on the window's thread; from another thread posted as
// MSG_LINKERROR, one at a time, so that no box holds the reader, which the
// program's end waits for). Any thread.
void ReportSilentLink();
void ReportPortOpened();
void ReportLinkError(const char* text);
// On MSG_LINKERROR: shows the reader's failure. Window's thread.
void ShowPostedLinkError();
// Configures the opened port, starts the reader and sends initString. Why
// the port refused its settings, or "" (the link runs either way).
std::string StartLink(HANDLE port, const std::string& initString);
// Ends the write in flight and the reader, then closes everything. Safe
// twice and with nothing open.
void ClosePort();
// The open port: written by the main thread while no reader runs (StartLink,
// ClosePort); read by the writer (main thread) and the reader thread.
extern HANDLE PortHandle;

// --- Opening on a thread of its own (opener.cpp), so that the window thread
// keeps answering while an open hangs. Main thread, but the opener thread.

// How the opener opens: CreatePortHandle, or a stand-in.
typedef HANDLE (*PortOpening)(const std::string& name);
// Starts opening name; its end is posted as MSG_PORTOPENED. False when an
// open is still under way or no thread could be made.
bool BeginOpenPort(const std::string& name, PortOpening open = CreatePortHandle);
// After MSG_PORTOPENED: the opened port (INVALID_HANDLE_VALUE when it failed,
// the reason in error), now the caller's. Waits for the opener's end, which
// follows its post at once, so that no half-ended opener blocks the next open.
HANDLE TakeOpenedPort(DWORD& error);
bool OpenUnderWay();
// Gives up the open under way: cancelled where the driver allows, waited
// for at most waitMs; a port it still opens is closed at once. False when
// the opener is still inside the driver (the process may end regardless).
bool AbandonOpenPort(DWORD waitMs);

// --- The writer (writer.cpp); main thread.

// Sends text + CR LF without waiting; drops the text while a write is pending.
void SendToPort(const std::string& text);
// Cancels the write in flight, if any, and waits until it has ended, so that
// its record, event and bytes can be released or used again.
void EndPendingWrite();
// The write's event, made by StartLink and closed by ClosePort.
void PrepareWrites();
void FreeWrites();

// --- The reader thread (reader.cpp).

DWORD WINAPI PortReaderThread(LPVOID);
// Reads until the driver holds nothing more, chunk by chunk, each appended
// and the main thread's alertable pause (the idle pass's) ended, so that
// a report is taken at once rather than at the pass's end:
// Windows signals EV_RXCHAR when bytes arrive, not while they wait, so a
// rest left queued would wait for the phone's next byte. The number of
// reads. Reader thread (or a test while none runs, after PrepareReads).
unsigned ReadAllQueued();
// The reader's record and event for PortHandle, made ready (main thread,
// no reader running); StartReader then starts the thread. EndReaderThread
// asks it to end (StopReader) and waits until it has; FreeReads closes the
// event after.
void PrepareReads();
bool StartReader();
void EndReaderThread();
void FreeReads();
// The running reader's thread; null when none.
HANDLE RunningReader();

// --- The received text (received_text.cpp): the reader appends, the main
// thread takes; each access holds the text's lock for itself only.

// The bytes without their zero bytes, appended, bounded by RECEIVE_LIMIT.
void AppendReceived(const char* bytes, DWORD count);
// Takes the next complete line: the text before the first CR or LF, which
// goes too. Text without a line end is taken whole only once the phone has
// been quiet for LINE_TAIL_WAIT. False, and nothing taken, otherwise.
bool TakeReceivedLine(std::string& line);
// At shutdown: drops all that is held.
void ClearReceived();
