#pragma once
// The serial port's I/O, as the program's reader and writer and the console
// tools all do it: overlapped calls on a port opened with the program's line
// settings, each bounded so that a stalled link holds no thread for long.
// Any thread, on the operations it started.

#include <windows.h>

#include <string>

const DWORD READ_CHUNK_SIZE = 256;
// A read or a bounded write still pending after this is cancelled.
const DWORD IO_WAIT = 1000;

// The name CreateFileA needs for a port the user calls name: the device
// namespace prefix \\.\ unless the name has a backslash already (a full
// device name, or a path). The program and the tools open every name so.
std::string PortPath(const std::string& name);
// Every DCB field a phone's line needs, whatever the last program left in
// the port: 9600 8N1, binary, no flow control of any kind, DTR and RTS
// raised, no abort on error, zero bytes kept.
void SetLineSettings(DCB& dcb);
// Line settings, buffers, event mask and time-outs of an opened port; false,
// with why, when the port refused its line settings or time-outs (it stays
// open: a virtual port may work regardless).
bool ConfigurePort(HANDLE port, std::string& why);
// The port opened for overlapped I/O, not yet configured, or
// INVALID_HANDLE_VALUE (the reason in GetLastError). A paired Bluetooth
// phone that is off holds this call for seconds while the stack tries to
// reach it: see BeginOpenPort.
HANDLE CreatePortHandle(const std::string& name);
// The same, configured; a port that refused its settings is kept and the
// reason given in why.
HANDLE OpenConfiguredPort(const std::string& name, std::string& why);
// Whether an open failed because the phone is not there (off, out of range,
// not accepting the connection, the open cancelled) rather than because the
// port is missing or busy: then it is worth trying again later.
bool PhoneUnreachable(DWORD error);

enum class WriteStart { Done, Pending, Failed };
// Starts writing bytes, which with o must outlive a Pending write.
WriteStart StartWrite(HANDLE port, OVERLAPPED& o, const std::string& bytes);
// Writes text + CR LF and waits for it IO_WAIT at most, then cancels; false
// when the write failed or was cancelled.
bool SendLineBounded(HANDLE port, const std::string& text);

// Bytes waiting in the driver (clearing any line error); false when the
// port cannot tell.
bool CountQueued(HANDLE port, DWORD& queued);
enum class ReadEnd { Read, Refused, FailedLater };
// Reads what is queued, at most READ_CHUNK_SIZE, into chunk; got says how
// much. A read the driver leaves pending is given IO_WAIT and then
// cancelled (which is no failure), and completed either way before o is
// used again. Refused: the port refused the read at once; FailedLater: the
// pending read failed.
ReadEnd ReadChunk(HANDLE port, OVERLAPPED& o, DWORD queued, char* chunk, DWORD& got);

// Ends a pending WaitCommEvent on port, waiting until done (the wait's
// event, or the thread that waits) is signalled. Clearing the event mask
// completes the wait at once, also on the port of a phone that has gone;
// CancelIo did not under Wine (the wait stayed in flight after the thread
// had ended). Repeated in case the wait began after the first nudge. The
// mask stays cleared.
void EndPendingWait(HANDLE port, HANDLE done);
