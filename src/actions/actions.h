#pragma once
// Actions: the command executor and the master volume. Main thread only.

#include <cstdint>
#include <string>

// Held-key state: set by MOUSEMOVE and VOLUME, applied by every idle pass,
// set back to 0 by a release line (and when a reconnect begins).
extern int32_t MouseDeltaX;
extern int32_t MouseDeltaY;
extern int32_t VolumeStep;

// Parses one command string and performs it at once; reports nothing.
void ExecuteCommand(const std::string& command);

// The master volume in mixer units 0..65535. Set clamps to the control's
// bounds, comparing as signed numbers. Get gives 0 when nothing can be read.
uint32_t GetMasterVolume();
void SetMasterVolume(int32_t value);

// The two back ends, for tests: the default render endpoint (Vista and
// later) and the winmm mixer's speakers line. Each returns false when its
// control cannot be reached.
bool EndpointGetVolume(uint32_t& value);
bool EndpointSetVolume(int32_t value);
bool MixerGetVolume(uint32_t& value);
bool MixerSetVolume(int32_t value);
// True when the endpoint is present and a write to it sticks; decided once.
bool EndpointVolumeWorks();
