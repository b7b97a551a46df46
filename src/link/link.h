#pragma once
// Phone link: the serial port connection, the writer and the reader thread.
// OpenPort, ClosePort, ReconnectPort and SendToPort run on the main thread.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <string>

// Posted by the reader thread to MainWindow when the link has gone silent.
const UINT MSG_RECONNECT = WM_USER + 1;

const DWORD READ_CHUNK_SIZE = 256;
const DWORD READER_WAIT_TIMEOUT = 20000;
// The watchdog's period: READER_WAIT_TIMEOUT. Tests shorten it, and only
// while no reader runs; the reader thread reads it.
extern DWORD ReaderWaitTimeout;
// ReceiveBuffer keeps at most this much, the newest text, while the main
// thread is held up (a modal box).
const size_t RECEIVE_LIMIT = 64 * 1024;
// An unterminated line is taken whole once the phone has been quiet this long.
const DWORD LINE_TAIL_WAIT = 100;

// "ATZ\r\nAT+CMER=3,2\r\n": reset, then report every key press and release.
extern const char* const DEFAULT_INIT_STRING;
// What OpenPort and every keep-alive send (SendToPort adds CR LF): the
// default, or the InitString setting. Written by LoadSettings before the port
// opens, then only read, on the main thread.
extern std::string PhoneInitString;

// Line settings, buffers, event mask and time-outs of an opened port.
void ConfigurePort(HANDLE port);

// Written by the main thread while no reader runs; read by the reader thread.
extern HANDLE PortHandle;
extern HANDLE ReaderThread;
extern OVERLAPPED ReadOverlapped;   // reader thread only while it runs
extern HANDLE ReadEvent;
extern OVERLAPPED WriteOverlapped;  // main thread only
extern HANDLE WriteEvent;
// Set by the main thread, read by the reader at the top of each cycle.
extern std::atomic<bool> StopReader;

// Text from the phone: the reader appends, the idle pass takes from the
// front; both only while holding ReceiveLock, and only for the access.
extern std::string ReceiveBuffer;
extern CRITICAL_SECTION ReceiveLock;
// GetTickCount of the last append; guarded by ReceiveLock.
extern DWORD LastReceiveTick;

// The name CreateFileA needs for a port the user calls name: COM followed by
// a number gets the device namespace prefix \\.\, any other name stays.
std::string PortPath(const std::string& name);
bool OpenPort(const std::string& name);
void ClosePort();
// Closes the port and reopens it until it opens, one attempt a second,
// dispatching the thread's messages meanwhile. Ends early when a WM_QUIT
// arrives (it is posted again for the main loop).
void ReconnectPort();
// Sends text + CR LF without waiting; drops the text while a write is pending.
void SendToPort(const std::string& text);
// Cancels the write in flight, if any, and waits until it has ended, so that
// its record, event and bytes can be released or used again. Main thread.
void EndPendingWrite();
DWORD WINAPI PortReaderThread(LPVOID);
// Reads until the driver holds nothing more, chunk by chunk, each appended:
// Windows signals EV_RXCHAR when bytes arrive, not while they wait, so a
// rest left queued would wait for the phone's next byte. The number of
// reads. Reader thread (or a test while none runs).
unsigned ReadAllQueued();
// The reader's store: the bytes without their zero bytes, appended, bounded.
void AppendReceived(const char* bytes, DWORD count);
