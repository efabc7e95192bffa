// What the rack does to the signal: gains, gate, plug-in chain, block size and peak meters.
#include "audio/rack.h"
#include "tests/audio/test_plugins.h"
#include "tests/support/heap_use.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

namespace {

// Runs the rack over `input` and keeps what it wrote.
struct Output {
    Output(Rack& rack, std::vector<float> const& input) : left(input.size()), right(input.size())
    {
        rack.run(input.data(), left.data(), right.data(), static_cast<int>(input.size()));
    }
    std::vector<float> left, right;
};

std::vector<float> constant(float value, int frames)
{
    return std::vector<float>(frames, value);
}

std::vector<float> ramp(int frames)
{
    std::vector<float> samples(frames);
    for (int i = 0; i < frames; ++i)
        samples[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
    return samples;
}

int const oneSecond = 48000;

}  // namespace

TEST(RackSignal, UnityLevelsPassTheInputThroughExactlyAndPluginsGetBlocksOfAtMost512Frames)
{
    Rack rack;
    auto const input = ramp(1000);
    EXPECT_EQ(Output(rack, input).left, input);

    rack.setLevels(0.0f, -96.0f, 0.0f);  // off
    auto plugin = std::make_shared<TestPlugin>();
    rack.setSlots({{"a", plugin, false}});
    Output out(rack, input);
    EXPECT_EQ(out.left, input);
    EXPECT_EQ(out.right, input);
    EXPECT_EQ(plugin->blocks, 2);
    EXPECT_EQ(plugin->largestBlock, 512);
    EXPECT_EQ(plugin->smallestBlock, 488);
}

TEST(RackSignal, GainAndVolumeScaleTheSignalAndMetersReportUnclippedPeaksOnce)
{
    EXPECT_FLOAT_EQ(gainOf(20.0f), 10.0f);
    EXPECT_NEAR(gainOf(-6.0206f), 0.5f, 1e-6f);
    Rack rack;
    rack.setLevels(12.0f, -96.0f, -6.0f);
    auto input = constant(0.25f, 256);
    input[100] = -0.5f;
    Output out(rack, input);
    EXPECT_FLOAT_EQ(out.left[0], 0.25f * gainOf(12.0f) * gainOf(-6.0f));
    EXPECT_EQ(out.left, out.right);

    Output quieter(rack, constant(0.01f, 64));  // a quieter block leaves the peaks alone
    Levels const levels = rack.takeLevels();
    EXPECT_FLOAT_EQ(levels.input, 0.5f * gainOf(12.0f));
    EXPECT_FLOAT_EQ(levels.output, 0.5f * gainOf(12.0f) * gainOf(-6.0f));
    Levels const again = rack.takeLevels();
    EXPECT_EQ(again.input, 0.0f);
    EXPECT_EQ(again.output, 0.0f);
}

TEST(RackSignal, TheGateLetsLoudSoundAndItsTailThroughThenFadesQuietSoundOut)
{
    Rack rack;
    rack.setLevels(0.0f, -40.0f, 0.0f);
    EXPECT_NEAR(Output(rack, constant(0.5f, oneSecond / 10)).left.back(), 0.5f, 1e-4f);
    // The 100 ms release keeps a quiet tail sounding for a while after the loud part...
    EXPECT_NEAR(Output(rack, constant(0.001f, oneSecond / 5)).left.back(), 0.001f, 1e-5f);
    // ...until the envelope falls below the threshold and the gain glides to silence.
    EXPECT_LT(std::fabs(Output(rack, constant(0.001f, oneSecond / 2)).left.back()), 1e-9f);
    EXPECT_EQ(rack.takeLevels().input, 0.5f);
    EXPECT_NEAR(Output(rack, constant(0.5f, oneSecond / 20)).left.back(), 0.5f, 1e-4f);
}

TEST(RackSignal, GateOffPassesAtFullLevelAtOnceAndOnAgainResumesWhereItWas)
{
    Rack rack;
    rack.setLevels(0.0f, -95.9f, 0.0f);  // just above the lowest level: the gate is on
    EXPECT_LT(std::fabs(Output(rack, constant(1e-6f, oneSecond)).left.back()), 1e-12f);
    rack.setLevels(0.0f, -96.0f, 0.0f);  // off
    EXPECT_EQ(Output(rack, constant(1e-6f, 8)).left.front(), 1e-6f);
    rack.setLevels(0.0f, -95.9f, 0.0f);
    EXPECT_LT(std::fabs(Output(rack, constant(1e-6f, 8)).left.front()), 1e-12f);
}

TEST(RackSignal, ActiveSlotsRunInChainOrderAndBypassedOrEmptySlotsAreSkipped)
{
    Rack rack;
    auto bypassed = std::make_shared<TestPlugin>(1.0f, 100.0f);
    rack.setSlots({{"a", std::make_shared<TestPlugin>(2.0f, 0.0f), false}, {"b", bypassed, true},
                   {"c", nullptr, false}, {"d", std::make_shared<TestPlugin>(1.0f, 1.0f), false}});
    Output out(rack, constant(0.25f, 16));
    EXPECT_EQ(out.left, constant(1.5f, 16));
    EXPECT_EQ(out.right, constant(1.5f, 16));
    EXPECT_EQ(bypassed->blocks, 0);
}

TEST(RackSignal, APluginsNaNAndInfinityReachTheNextPluginTheOutputAndTheMetersAsZero)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    float const infinity = std::numeric_limits<float>::infinity();
    Rack rack;
    auto const input = constant(0.25f, 600);
    for (float const bad : {nan, -nan, infinity, -infinity}) {
        auto source = std::make_shared<TestPlugin>(1.0f, bad);
        rack.setSlots({{"a", source, false}});
        Output const alone(rack, input);
        EXPECT_EQ(alone.left, constant(0.0f, 600)) << bad;
        EXPECT_EQ(alone.right, constant(0.0f, 600)) << bad;
        EXPECT_EQ(rack.takeLevels().output, 0.0f) << bad;

        rack.setSlots({{"a", source, false}, {"b", std::make_shared<TestPlugin>(1.0f, 0.5f), false}});
        Output const followed(rack, input);
        EXPECT_EQ(followed.left, constant(0.5f, 600)) << bad << ": the next plug-in gets 0";
        EXPECT_EQ(followed.right, constant(0.5f, 600)) << bad;
        EXPECT_EQ(rack.takeLevels().output, 0.5f) << bad;
    }

    // Adding -0 keeps every sample as it is, -0 included: finite extremes pass bit for bit.
    rack.setSlots({{"a", std::make_shared<TestPlugin>(1.0f, -0.0f), false}});
    std::vector<float> const extremes{std::numeric_limits<float>::denorm_min(), -0.0f,
                                      std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()};
    Output const out(rack, extremes);
    for (std::size_t i = 0; i < extremes.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(out.left[i]), std::bit_cast<std::uint32_t>(extremes[i])) << i;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(out.right[i]), std::bit_cast<std::uint32_t>(extremes[i])) << i;
    }
}

TEST(RackSignal, NonFiniteInputAndOverflowingLevelsReachNeitherPluginsNorOutputNorMeters)
{
    float const nan = std::numeric_limits<float>::quiet_NaN();
    float const infinity = std::numeric_limits<float>::infinity();
    Rack rack;
    rack.setSlots({{"a", std::make_shared<TestPlugin>(1.0f, 0.5f), false}});
    // Within the first 8 samples, which the rack takes four at a time, and after them.
    std::vector<float> input = constant(0.25f, 12);
    std::vector<float> expected = constant(0.75f, 12);
    std::pair<int, float> const bad[] = {{1, nan}, {4, infinity}, {6, -infinity}, {10, -nan}};
    for (auto const& [at, value] : bad) {
        input[at] = value;
        expected[at] = 0.5f;
    }
    Output const fed(rack, input);
    EXPECT_EQ(fed.left, expected) << "the plug-in gets 0";
    Levels const fedLevels = rack.takeLevels();
    EXPECT_EQ(fedLevels.input, 0.25f);
    EXPECT_EQ(fedLevels.output, 0.75f);

    // The gate never sees one either: quiet sound after an infinity is faded out as ever.
    Rack gated;
    gated.setLevels(0.0f, -60.0f, 0.0f);
    Output(gated, {infinity});
    EXPECT_LT(Output(gated, constant(0.0001f, oneSecond)).left.back(), 1e-6f);

    // Each factor is finite, their product with a full-scale signal isn't.
    rack.setSlots({});
    rack.setLevels(770.0f, -96.0f, 10.0f);
    Output const loud(rack, constant(1.0f, 600));
    EXPECT_EQ(loud.left, constant(0.0f, 600));
    EXPECT_EQ(loud.right, constant(0.0f, 600));
    Levels const loudLevels = rack.takeLevels();
    EXPECT_EQ(loudLevels.input, gainOf(770.0f));
    EXPECT_EQ(loudLevels.output, 0.0f);
}

TEST(RackSignal, RunningAChainWithGateAndMetersAllocatesAndFreesNothing)
{
    Rack rack;
    rack.setLevels(3.0f, -50.0f, -3.0f);
    std::vector<Slot> slots;
    for (int i = 0; i < 8; ++i)
        slots.push_back({"slot", std::make_shared<TestPlugin>(0.9f, 0.0f), i == 3});
    rack.setSlots(std::move(slots));
    auto const input = ramp(2000);
    std::vector<float> left(2000), right(2000);

    HeapUse const before = heapUseOnThisThread();
    for (int i = 0; i < 2000; ++i)
        rack.run(input.data(), left.data(), right.data(), i % 2 ? 128 : 2000);
    EXPECT_EQ(heapUseOnThisThread(), before);
}
