// Preparing plug-ins for a rate and block size, and running audio through them.
#include "plugin/vst3.h"
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Calls = std::vector<std::string>;

Calls preparedCalls(std::string const& bus)
{
    return {"processor.setBusArrangements " + bus, "component.activateBus input 0 1", "component.activateBus output 0 1",
            "processor.setupProcessing 48000 512", "component.setActive 1", "processor.setProcessing 1"};
}

bool all(std::vector<float> const& samples, float value)
{
    return std::all_of(samples.begin(), samples.end(), [value](float sample) { return sample == value; });
}

}  // namespace

TEST(Prepare, AsksForMonoInAndStereoOutAndStopsBeforePreparingAgain)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    EXPECT_TRUE(plugin->prepare(48000, 512));
    EXPECT_EQ(takeCalls(), preparedCalls("mono -> stereo"));
    EXPECT_TRUE(plugin->prepare(48000, 512));
    Calls again = {"processor.setProcessing 0", "component.setActive 0"};
    for (auto const& call : preparedCalls("mono -> stereo"))
        again.push_back(call);
    EXPECT_EQ(takeCalls(), again);
}

TEST(Prepare, FallsBackToStereoInputWhenMonoIsRefused)
{
    auto plugin = loadRecorder("Mono Input Refused");
    ASSERT_TRUE(plugin);
    EXPECT_TRUE(plugin->prepare(48000, 512));
    Calls expected = preparedCalls("stereo -> stereo");
    expected.insert(expected.begin(), "processor.setBusArrangements mono -> stereo");
    EXPECT_EQ(takeCalls(), expected);

    StereoBlock block;
    block.run(*plugin);
    ProcessedBlock const& seen = recorder().lastBlock;
    EXPECT_EQ(seen.inputChannels, 2);
    EXPECT_EQ(seen.firstInputs[0], 0.5f);
    EXPECT_EQ(seen.firstInputs[1], -0.25f);
}

TEST(Prepare, ReportsARefusedSetupOrActivationAndLeavesThePlugInOff)
{
    for (std::string className : {"Setup Refused", "Activation Refused"}) {
        auto plugin = loadRecorder(className);
        ASSERT_TRUE(plugin);
        EXPECT_FALSE(plugin->prepare(48000, 512)) << className;
        takeCalls();
        plugin.reset();
        Calls const teardown = takeCalls();
        EXPECT_EQ(std::count(teardown.begin(), teardown.end(), "processor.setProcessing 0"), 0) << className;
        EXPECT_EQ(std::count(teardown.begin(), teardown.end(), "component.setActive 0"), 0) << className;
    }
    auto picky = loadClass(testModule("picky-rate"), "Picky Rate");
    ASSERT_TRUE(picky);
    EXPECT_FALSE(picky->prepare(44100, 512));
    EXPECT_TRUE(picky->prepare(48000, 512));
}

TEST(Process, UsesThePlugInsOutputOnBothSides)
{
    struct Case {
        std::string className;
        float left, right;
    };
    // The recorder halves its input (mono, so both sides), and without input it plays 0.25; a mono
    // output feeds both sides; with stereo input each side keeps its own.
    for (Case const& c : {Case{"Separate Controller", 0.25f, 0.25f}, Case{"No Input Bus", 0.25f, 0.25f},
                          Case{"Mono Output", 0.25f, 0.25f}, Case{"Mono Input Refused", 0.25f, -0.125f}}) {
        auto plugin = loadRecorder(c.className);
        ASSERT_TRUE(plugin);
        ASSERT_TRUE(plugin->prepare(48000, 512));
        StereoBlock block;
        block.run(*plugin);
        EXPECT_TRUE(all(block.outLeft, c.left)) << c.className;
        EXPECT_TRUE(all(block.outRight, c.right)) << c.className;
    }
}

TEST(Process, GivesAPlugInWithoutInputNothingToRead)
{
    auto plugin = loadRecorder("No Input Bus");
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->prepare(48000, 512));
    EXPECT_EQ(takeCalls(), (Calls{"processor.setBusArrangements none -> stereo", "component.activateBus output 0 1",
                                  "processor.setupProcessing 48000 512", "component.setActive 1",
                                  "processor.setProcessing 1"}));
    StereoBlock block;
    block.run(*plugin);
    EXPECT_EQ(recorder().lastBlock.inputBuses, 0);
}

TEST(Process, PassesTheInputThroughWhenThePlugInFails)
{
    auto plugin = loadRecorder("Process Fails");
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->prepare(48000, 512));
    StereoBlock block;
    block.run(*plugin, 100);
    EXPECT_EQ(block.outLeft[99], 0.5f);
    EXPECT_EQ(block.outRight[99], -0.25f);
    EXPECT_EQ(block.outLeft[100], 0.0f);  // only `frames` samples are written
}

TEST(Process, CountsTransportTimeAcrossPrepares)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->prepare(48000, 512));
    StereoBlock block;
    for (int i = 0; i < 100; ++i)
        block.run(*plugin, 480);
    block.run(*plugin, 0);
    Steinberg::Vst::ProcessContext const& context = recorder().lastBlock.context;
    EXPECT_EQ(recorder().lastBlock.frames, 0);
    EXPECT_EQ(context.projectTimeSamples, 48000);
    EXPECT_EQ(context.continousTimeSamples, 48000);
    EXPECT_EQ(context.projectTimeMusic, 2.0);
    EXPECT_EQ(context.state, 0x2402u);
    EXPECT_EQ(context.sampleRate, 48000);
    EXPECT_EQ(context.tempo, 120);
    EXPECT_EQ(context.timeSigNumerator, 4);
    EXPECT_EQ(context.timeSigDenominator, 4);
    EXPECT_EQ(recorder().lastBlock.eventCount, 0);

    ASSERT_TRUE(plugin->prepare(44100, 512));
    block.run(*plugin, 512);
    EXPECT_EQ(recorder().lastBlock.context.projectTimeSamples, 48000);
    EXPECT_DOUBLE_EQ(recorder().lastBlock.context.projectTimeMusic, 48000 / 44100.0 * 2.0);
}

TEST(SdkExamples, LoadPrepareAndProcessAtBothRates)
{
    for (std::string name : {"adelay", "again-sampleaccurate", "syncdelay"}) {
        std::string error;
        auto const classes = scanVst3(sdkExample(name), error);
        ASSERT_FALSE(classes.empty()) << name << ": " << error;
        auto plugin = loadPlugin({classes[0].format, classes[0].path, classes[0].uid}, error);
        ASSERT_TRUE(plugin) << error;
        for (double rate : {44100.0, 48000.0}) {
            EXPECT_TRUE(plugin->prepare(rate, 512)) << name << " at " << rate;
            StereoBlock block;
            for (int i = 0; i < 10; ++i)
                block.run(*plugin);
        }
    }
}

TEST(SdkExamples, ADelayDelaysBySecond)
{
    auto plugin = loadClass(sdkExample("adelay"), "ADelay");
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->prepare(48000, 512));
    StereoBlock block;
    std::fill(block.left.begin(), block.left.end(), 0.0f);
    std::fill(block.right.begin(), block.right.end(), 0.0f);
    block.left[0] = block.right[0] = 1.0f;
    int heardAt = -1;
    for (int start = 0; start < 48512 && heardAt < 0; start += 512) {
        block.run(*plugin);
        block.left[0] = block.right[0] = 0.0f;
        for (int i = 0; i < 512 && heardAt < 0; ++i)
            if (block.outLeft[i] == 1.0f && block.outRight[i] == 1.0f)
                heardAt = start + i;
    }
    EXPECT_EQ(heardAt, 48000);
}
