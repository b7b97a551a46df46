#include "actions.h"

int32_t MouseDeltaX = 0;
int32_t MouseDeltaY = 0;
int32_t VolumeStep = 0;

void StepHeldKey()
{
    if (MouseDeltaX != 0 || MouseDeltaY != 0) {
        POINT at;
        // A position that could not be read is never used.
        if (GetCursorPos(&at)) SetCursorPos(at.x + MouseDeltaX, at.y + MouseDeltaY);
    }
    uint32_t volume = 0;
    // A step whose read failed (the audio device switching) is skipped:
    // from 0 it would drop the volume to almost nothing.
    if (VolumeStep != 0 && ReadMasterVolume(volume)) {
        // Unsigned, so that the sum wraps as 32-bit arithmetic does.
        const uint32_t sum = volume + static_cast<uint32_t>(VolumeStep) * 500u;
        SetMasterVolume(static_cast<int32_t>(sum));
    }
}

void ReleaseHeldKey()
{
    MouseDeltaX = 0;
    MouseDeltaY = 0;
    VolumeStep = 0;
}
