// The master volume through both back ends. Under Wine the volume is per
// process and may read back one lower than written (a float round trip).
#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>

#include "actions/actions.h"
#include "actions/actions_testing.h"

namespace {

struct Backend {
    const char* name;
    bool (*get)(uint32_t&);
    bool (*set)(int32_t);
};

// Some endpoints (Wine's) accept writes and ignore them.
bool EndpointTakesWrites()
{
    uint32_t before = 0, after = 0;
    if (!EndpointGetVolume(before)) return false;
    const int32_t probe = before <= 60000 ? static_cast<int32_t>(before) + 500 : 0;
    const bool moved = EndpointSetVolume(probe) && EndpointGetVolume(after) && after != before;
    EndpointSetVolume(static_cast<int32_t>(before));
    return moved;
}

class Volume : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        uint32_t v = 0;
        if (!GetParam().get(v)) GTEST_SKIP() << GetParam().name << " is not available here";
        if (GetParam().get == EndpointGetVolume && !EndpointTakesWrites())
            GTEST_SKIP() << "the endpoint here ignores writes (Wine's does)";
    }
    void TearDown() override { CoUninitialize(); }
    uint32_t Read()
    {
        uint32_t v = 0xDEADBEEF;
        EXPECT_TRUE(GetParam().get(v));
        return v;
    }
};

TEST_P(Volume, WritesAreClampedToTheControlsBounds)
{
    const std::pair<int32_t, uint32_t> cases[] = {
        {-500, 0}, {66000, 65535}, {32768, 32768}, {0, 0}, {65535, 65535},
        {INT32_MIN, 0}, {INT32_MAX, 65535}, {1000, 1000},
    };
    for (const auto& c : cases) {
        GetParam().set(c.first);
        const uint32_t got = Read();
        EXPECT_LE(got, c.second) << c.first;
        EXPECT_GE(got + 1, c.second) << c.first;
    }
}

TEST_P(Volume, AHeldVolumeUpKeyRampsToTheTopAndStays)
{
    GetParam().set(0);
    int passes = 0, firstAtTop = -1;
    uint32_t previous = Read();
    for (; passes < 150; ++passes) {
        GetParam().set(static_cast<int32_t>(Read()) + 1 * 500);
        const uint32_t now = Read();
        EXPECT_GE(now, previous);
        if (now >= 65534 && firstAtTop < 0) firstAtTop = passes + 1;
        previous = now;
    }
    EXPECT_GE(previous, 65534u);
    // 131 steps of 500 reach 65500; the 132nd is clamped (a read one low may cost a pass).
    EXPECT_GE(firstAtTop, 132);
    EXPECT_LE(firstAtTop, 133);
}

TEST_P(Volume, AHeldVolumeDownKeyStopsAtZero)
{
    GetParam().set(400);
    GetParam().set(static_cast<int32_t>(Read()) - 500);
    EXPECT_EQ(Read(), 0u);
    GetParam().set(static_cast<int32_t>(Read()) - 500);
    EXPECT_EQ(Read(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, Volume,
    ::testing::Values(Backend{"endpoint", EndpointGetVolume, EndpointSetVolume},
                      Backend{"mixer", MixerGetVolume, MixerSetVolume}),
    [](const ::testing::TestParamInfo<Backend>& info) { return std::string(info.param.name); });

TEST(MasterVolume, UsesAWorkingBackEnd)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetMasterVolume(20000);
    const uint32_t v = GetMasterVolume();
    EXPECT_LE(v, 20000u);
    EXPECT_GE(v, 19999u);
    SetMasterVolume(-1);
    EXPECT_EQ(GetMasterVolume(), 0u);
    CoUninitialize();
}

// A stand-in endpoint: absent until present is set, and moving only in
// steps of grain units, as some devices do; readable unless unreadable.
struct FakeEndpoint {
    bool present = false;
    bool unreadable = false;
    uint32_t value = 0;
    uint32_t grain = 1;
} Fake;

bool FakeGet(uint32_t& v)
{
    if (Fake.present && !Fake.unreadable) v = Fake.value;
    return Fake.present && !Fake.unreadable;
}

bool FakeSet(int32_t v)
{
    if (!Fake.present) return false;
    const int64_t clamped = std::min<int64_t>(std::max<int64_t>(v, 0), 65535);
    Fake.value = static_cast<uint32_t>((clamped + Fake.grain / 2) / Fake.grain * Fake.grain);
    return true;
}

// An audio device missing at one press (a headset unplugged) does not send
// later presses to the mixer for good, and a press by itself moves no
// device's volume, one with coarse steps (2048) included, which then takes
// the held key's steps as it can hold them.
TEST(VolumeBackEnd, IsChosenAgainAtEveryPress)
{
    const VolumeCalls real = EndpointVolume;
    EndpointVolume = {FakeGet, FakeSet};
    Fake = FakeEndpoint();
    ExecuteCommand("VOLUME,1", nullptr);
    SetMasterVolume(30000);
    EXPECT_EQ(Fake.value, 0u) << "the absent endpoint was written";

    Fake.present = true;
    Fake.value = 10000;
    ExecuteCommand("VOLUME,1", nullptr);
    EXPECT_EQ(Fake.value, 10000u) << "the press itself moved the volume";
    SetMasterVolume(30000);
    EXPECT_EQ(Fake.value, 30000u);

    Fake.grain = 2048;
    Fake.value = 8192;
    ExecuteCommand("VOLUME,5", nullptr);
    EXPECT_EQ(Fake.value, 8192u) << "the press itself moved the coarse device's volume";
    SetMasterVolume(20480);
    EXPECT_EQ(Fake.value, 20480u);
    EXPECT_EQ(GetMasterVolume(), 20480u);

    // Gone in the middle of a hold: the next press finds the mixer again.
    Fake.present = false;
    ExecuteCommand("VOLUME,1", nullptr);
    SetMasterVolume(100);
    EXPECT_EQ(Fake.value, 20480u);
    EndpointVolume = real;
    VolumeStep = 0;
}

// A read that fails during a hold (the device switching) skips that step:
// taken as 0, it would set the volume to one step above silence.
TEST(VolumeBackEnd, AStepWhoseReadFailedChangesNothing)
{
    const VolumeCalls real = EndpointVolume;
    EndpointVolume = {FakeGet, FakeSet};
    Fake = FakeEndpoint();
    Fake.present = true;
    Fake.value = 40000;
    ExecuteCommand("VOLUME,1", nullptr);
    Fake.unreadable = true;
    StepHeldKey();
    EXPECT_EQ(Fake.value, 40000u);
    Fake.unreadable = false;
    StepHeldKey();
    EXPECT_EQ(Fake.value, 40500u);
    EndpointVolume = real;
    ReleaseHeldKey();
}

} // namespace
