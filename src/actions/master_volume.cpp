#include "actions.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <algorithm>
#include <cmath>

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

// The calls name mixer device 0 by its id, which the open handle keeps open:
// Wine runs out of mixer handles after 256 calls through handles.
HMIXEROBJ const DEVICE_ZERO = nullptr;

// The speakers line's volume control of mixer device 0; the handle is closed
// by the destructor whatever happens in between.
struct SpeakersControl {
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
        if (mixerOpen(&mixer, 0, 0, 0, 0) != MMSYSERR_NOERROR || !mixer) {
            mixer = nullptr;
            return;
        }
        MIXERLINEA line;
        ZeroMemory(&line, sizeof line);
        line.cbStruct = sizeof line;
        line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
        if (mixerGetLineInfoA(DEVICE_ZERO, &line,
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
        if (mixerGetLineControlsA(DEVICE_ZERO, &query,
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
        if (mixer) mixerClose(mixer);
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
    if (mixerGetControlDetailsA(DEVICE_ZERO, &speakers.details,
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
    return mixerSetControlDetails(DEVICE_ZERO, &speakers.details,
                                  MIXER_OBJECTF_MIXER | MIXER_SETCONTROLDETAILSF_VALUE) ==
           MMSYSERR_NOERROR;
}

// Whether the endpoint really takes a write, found once by moving the volume
// one unit and back: some implementations (Wine's) accept writes and ignore
// them, and then only the mixer works.
bool EndpointVolumeWorks()
{
    static int works = -1;
    if (works < 0) {
        uint32_t before = 0;
        works = 0;
        if (EndpointGetVolume(before)) {
            uint32_t after = 0;
            const int32_t probe = before > 0 ? static_cast<int32_t>(before) - 1 : 1;
            if (EndpointSetVolume(probe) && EndpointGetVolume(after) && after != before) works = 1;
            EndpointSetVolume(static_cast<int32_t>(before));
        }
    }
    return works == 1;
}

uint32_t GetMasterVolume()
{
    uint32_t value = 0;
    const bool read = EndpointVolumeWorks() ? EndpointGetVolume(value) : MixerGetVolume(value);
    return read ? value : 0;
}

void SetMasterVolume(int32_t value)
{
    if (EndpointVolumeWorks())
        EndpointSetVolume(value);
    else
        MixerSetVolume(value);
}
