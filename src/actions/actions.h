#pragma once
// Actions: the command executor, the held key and the master volume. Main
// thread only.

#include <windows.h>

#include <cstdint>
#include <string>

// Parses one command string and performs it at once; reports nothing. A
// program is started with owner as the window of any message about it.
void ExecuteCommand(const std::string& command, HWND owner);

// The held key: set by MOUSEMOVE and VOLUME (ExecuteCommand), read by
// StepHeldKey, set back to 0 by ReleaseHeldKey. Main thread; tests read them.
extern int32_t MouseDeltaX;
extern int32_t MouseDeltaY;
extern int32_t VolumeStep;
// One step of the held key: the cursor moves by the deltas, the volume by
// VolumeStep x 500 units. Nothing while no key is held.
void StepHeldKey();
// A release line came, or the link was given up (its release may never come).
void ReleaseHeldKey();

// The master volume in mixer units 0..65535. Set clamps to the control's
// bounds, comparing as signed numbers. Read is false when nothing can be
// read; Get then gives 0.
bool ReadMasterVolume(uint32_t& value);
uint32_t GetMasterVolume();
void SetMasterVolume(int32_t value);

// Decides which back end a held VOLUME key moves: the endpoint when it can
// be read and written, else the mixer. At every press, since audio devices
// come and go.
void ChooseVolumeBackEnd();
