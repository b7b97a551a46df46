#pragma once
// What the volume tests reach beneath the master volume.

#include <cstdint>

// The two back ends, for tests: the default render endpoint (Vista and
// later) and the winmm mixer's speakers line. Each returns false when its
// control cannot be reached.
bool EndpointGetVolume(uint32_t& value);
bool EndpointSetVolume(int32_t value);
bool MixerGetVolume(uint32_t& value);
bool MixerSetVolume(int32_t value);
// The endpoint's two calls as the volume uses them; tests put stand-ins
// here. Main thread.
struct VolumeCalls {
    bool (*get)(uint32_t&);
    bool (*set)(int32_t value);
};
extern VolumeCalls EndpointVolume;
