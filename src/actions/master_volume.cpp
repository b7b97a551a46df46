#include "actions.h"
#include "actions_testing.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <algorithm>
#include <cmath>

#include "../util/system_dll.h"

namespace {

// Spelled out rather than taken from a uuid library, so that mingw-w64 and
// MSVC build this file alike.
const CLSID ClsidDeviceEnumerator = {0xBCDE0395, 0xE52F, 0x467C,
                                     {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID IidDeviceEnumerator = {0xA95664D2, 0x9614, 0x4F35,
                                 {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID IidEndpointVolume = {0x5CDF2C82, 0x841E, 0x4546,
                               {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};

const int32_t ENDPOINT_MAXIMUM = 65535;

// Releases a COM interface when the call ends, on every path.
template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() { if (p) p->Release(); }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

// The master volume of the default render endpoint. Since Vista the winmm
// mixer only reaches the caller's own audio session, which nobody hears.
bool OpenEndpointVolume(ComPtr<IAudioEndpointVolume>& volume)
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(ClsidDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                                IidDeviceEnumerator, enumerator.Out())))
        return false;
    ComPtr<IMMDevice> device;
    if (FAILED(enumerator.p->GetDefaultAudioEndpoint(eRender, eConsole, &device.p)))
        return false;
    return SUCCEEDED(device.p->Activate(IidEndpointVolume, CLSCTX_INPROC_SERVER, nullptr,
                                        volume.Out()));
}

// winmm is no known DLL: it is loaded from the system folder, when first
// needed, never found beside the program.
struct MixerCalls {
    decltype(&mixerOpen) open = nullptr;
    decltype(&mixerClose) close = nullptr;
    decltype(&mixerGetLineInfoA) getLineInfo = nullptr;
    decltype(&mixerGetLineControlsA) getLineControls = nullptr;
    decltype(&mixerGetControlDetailsA) getControlDetails = nullptr;
    decltype(&mixerSetControlDetails) setControlDetails = nullptr;
};

// Loaded on first use; main thread only. Plain variables, not a guarded
// local static: the guard would pull the threads library into the program.
MixerCalls Calls;
bool CallsLoaded = false;

// Null when winmm or one of its calls is missing.
const MixerCalls* Mixer()
{
    if (!CallsLoaded) {
        HMODULE winmm = LoadSystemDll(L"winmm.dll");
        Calls.open = SystemFunction<decltype(Calls.open)>(winmm, "mixerOpen");
        Calls.close = SystemFunction<decltype(Calls.close)>(winmm, "mixerClose");
        Calls.getLineInfo = SystemFunction<decltype(Calls.getLineInfo)>(winmm, "mixerGetLineInfoA");
        Calls.getLineControls =
            SystemFunction<decltype(Calls.getLineControls)>(winmm, "mixerGetLineControlsA");
        Calls.getControlDetails =
            SystemFunction<decltype(Calls.getControlDetails)>(winmm, "mixerGetControlDetailsA");
        Calls.setControlDetails =
            SystemFunction<decltype(Calls.setControlDetails)>(winmm, "mixerSetControlDetails");
        CallsLoaded = true;
    }
    const bool all = Calls.open && Calls.close && Calls.getLineInfo && Calls.getLineControls &&
                     Calls.getControlDetails && Calls.setControlDetails;
    return all ? &Calls : nullptr;
}

// The calls name mixer device 0 by its id, which the open handle keeps open:
// Wine runs out of mixer handles after 256 calls through handles.
HMIXEROBJ const DEVICE_ZERO = nullptr;

// The speakers line's volume control of mixer device 0; the handle is closed
// by the destructor whatever happens in between.
struct SpeakersControl {
    const MixerCalls* winmm = nullptr;
    HMIXER mixer = nullptr;
    MIXERCONTROLA control;
    MIXERCONTROLDETAILS details;
    MIXERCONTROLDETAILS_UNSIGNED value;
    bool found = false;

    SpeakersControl()
    {
        ZeroMemory(&control, sizeof control);
        ZeroMemory(&details, sizeof details);
        value.dwValue = 0;
        winmm = Mixer();
        if (!winmm) return;
        if (winmm->open(&mixer, 0, 0, 0, 0) != MMSYSERR_NOERROR || !mixer) {
            mixer = nullptr;
            return;
        }
        MIXERLINEA line;
        ZeroMemory(&line, sizeof line);
        line.cbStruct = sizeof line;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        if (winmm->getLineInfo(DEVICE_ZERO, &line,
                               MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_COMPONENTTYPE) !=
            MMSYSERR_NOERROR)
            return;
        MIXERLINECONTROLSA query;
        ZeroMemory(&query, sizeof query);
        query.cbStruct = sizeof query;
        query.dwLineID = line.dwLineID;
        query.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
        query.cControls = 1;
        query.cbmxctrl = sizeof control;
        query.pamxctrl = &control;
        control.cbStruct = sizeof control;
        // Without a volume control on the speakers line nothing else is touched.
        if (winmm->getLineControls(DEVICE_ZERO, &query,
                                   MIXER_OBJECTF_MIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) !=
            MMSYSERR_NOERROR)
            return;
        details.cbStruct = sizeof details;
        details.dwControlID = control.dwControlID;
        details.cChannels = 1;  // one value stands for all channels
        details.cMultipleItems = 0;
        details.cbDetails = sizeof value;
        details.paDetails = &value;
        found = true;
    }
    ~SpeakersControl()
    {
        if (mixer) winmm->close(mixer);
    }
    SpeakersControl(const SpeakersControl&) = delete;
    SpeakersControl& operator=(const SpeakersControl&) = delete;
};

int32_t Clamp(int32_t v, int32_t minimum, int32_t maximum)
{
    if (v < minimum) v = minimum;
    if (v > maximum) v = maximum;
    return v;
}

} // namespace

bool EndpointGetVolume(uint32_t& value)
{
    ComPtr<IAudioEndpointVolume> volume;
    float level = 0;
    if (!OpenEndpointVolume(volume) || FAILED(volume.p->GetMasterVolumeLevelScalar(&level)))
        return false;
    const long rounded = std::lround(level * ENDPOINT_MAXIMUM);
    value = static_cast<uint32_t>(std::min<long>(std::max<long>(rounded, 0), ENDPOINT_MAXIMUM));
    return true;
}

bool EndpointSetVolume(int32_t value)
{
    ComPtr<IAudioEndpointVolume> volume;
    if (!OpenEndpointVolume(volume)) return false;
    const float level = static_cast<float>(Clamp(value, 0, ENDPOINT_MAXIMUM)) / ENDPOINT_MAXIMUM;
    return SUCCEEDED(volume.p->SetMasterVolumeLevelScalar(level, nullptr));
}

bool MixerGetVolume(uint32_t& value)
{
    SpeakersControl speakers;
    if (!speakers.found) return false;
    if (speakers.winmm->getControlDetails(DEVICE_ZERO, &speakers.details,
                                          MIXER_OBJECTF_MIXER | MIXER_GETCONTROLDETAILSF_VALUE) !=
        MMSYSERR_NOERROR)
        return false;
    value = speakers.value.dwValue;
    return true;
}

bool MixerSetVolume(int32_t value)
{
    SpeakersControl speakers;
    if (!speakers.found) return false;
    speakers.value.dwValue = static_cast<DWORD>(
        Clamp(value, static_cast<int32_t>(speakers.control.Bounds.dwMinimum),
              static_cast<int32_t>(speakers.control.Bounds.dwMaximum)));
    return speakers.winmm->setControlDetails(DEVICE_ZERO, &speakers.details,
                                             MIXER_OBJECTF_MIXER | MIXER_SETCONTROLDETAILSF_VALUE) ==
           MMSYSERR_NOERROR;
}

VolumeCalls EndpointVolume = {EndpointGetVolume, EndpointSetVolume};

namespace {
// Which back end the held VOLUME key moves, chosen again at every press.
// Main thread.
bool Chosen = false;
bool UseEndpoint = false;
} // namespace

void ChooseVolumeBackEnd()
{
    // The endpoint when it can be reached, read and written, found out by
    // writing back what it holds, so that the user's volume never moves;
    // the mixer where it cannot (XP, no device, Wine's endpoint, which
    // refuses writes).
    uint32_t now = 0;
    UseEndpoint = EndpointVolume.get(now) && EndpointVolume.set(static_cast<int32_t>(now));
    Chosen = true;
}

namespace {

// The endpoint chosen, or the mixer. An endpoint that fails (its device
// gone) makes the next call choose again.
bool Endpoint()
{
    if (!Chosen) ChooseVolumeBackEnd();
    return UseEndpoint;
}

} // namespace

bool ReadMasterVolume(uint32_t& value)
{
    if (!Endpoint()) return MixerGetVolume(value);
    if (EndpointVolume.get(value)) return true;
    Chosen = false;
    return false;
}

uint32_t GetMasterVolume()
{
    uint32_t value = 0;
    return ReadMasterVolume(value) ? value : 0;
}

void SetMasterVolume(int32_t value)
{
    if (!Endpoint())
        MixerSetVolume(value);
    else if (!EndpointVolume.set(value))
        Chosen = false;
}
