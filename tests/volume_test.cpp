// The master volume through both back ends. Under Wine the volume is per
// process and may read back one lower than written (a float round trip).
#include <gtest/gtest.h>

#include <objbase.h>

#include "actions/actions.h"

namespace {

struct Backend {
    const char* name;
    bool (*get)(uint32_t&);
    bool (*set)(int32_t);
};

class Volume : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        uint32_t v = 0;
        if (!GetParam().get(v)) GTEST_SKIP() << GetParam().name << " is not available here";
        if (GetParam().get == EndpointGetVolume && !EndpointVolumeWorks())
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

} // namespace
