// Preparing plug-ins for a rate and block size, and running audio through them.
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

Calls const stopping = {"processor.setProcessing 0", "component.setActive 0"};

// `value` in the first 100 samples of a 512-sample output that started silent.
std::vector<float> first100(float value)
{
    std::vector<float> samples(512, 0.0f);
    std::fill_n(samples.begin(), 100, value);
    return samples;
}

}  // namespace

TEST(Prepare, AsksForMonoInAndStereoOutOrWhatThePlugInTakesAndStopsBeforePreparingAgain)
{
    std::string const in = "component.activateBus input 0 1";
    std::string const out = "component.activateBus output 0 1";
    Calls const starting = {"processor.setupProcessing 48000 512", "component.setActive 1", "processor.setProcessing 1"};
    struct Case {
        std::string className;
        Calls buses;
    };
    Case const cases[] = {
        {"Separate Controller", {"processor.setBusArrangements mono -> stereo", in, out}},
        {"Mono Input Refused",
         {"processor.setBusArrangements mono -> stereo", "processor.setBusArrangements stereo -> stereo", in, out}},
        {"No Input Bus", {"processor.setBusArrangements none -> stereo", out}},
    };
    for (Case const& c : cases) {
        auto plugin = loadRecorder(c.className);
        ASSERT_TRUE(plugin);
        Calls expected = c.buses;
        expected.insert(expected.end(), starting.begin(), starting.end());
        EXPECT_TRUE(plugin->prepare(48000, 512));
        EXPECT_EQ(takeCalls(), expected) << c.className;
        expected.insert(expected.begin(), stopping.begin(), stopping.end());
        EXPECT_TRUE(plugin->prepare(48000, 512));
        EXPECT_EQ(takeCalls(), expected) << c.className;
    }
}

TEST(Prepare, ReportsARefusedSetupOrActivationAndLeavesThePlugInOff)
{
    for (std::string className : {"Setup Refused", "Activation Refused"}) {
        auto plugin = loadRecorder(className);
        ASSERT_TRUE(plugin);
        EXPECT_FALSE(plugin->prepare(48000, 512)) << className;
        // Off, it is never processed: its input passes through.
        recorder().lastBlock.inputChannels = -1;
        StereoBlock block;
        block.run(*plugin);
        EXPECT_EQ(recorder().lastBlock.inputChannels, -1) << className;
        EXPECT_EQ(block.outLeft, block.left) << className;
        takeCalls();
        plugin.reset();
        Calls const teardown = takeCalls();
        for (std::string const& call : stopping)
            EXPECT_EQ(std::count(teardown.begin(), teardown.end(), call), 0) << className;
    }
}

TEST(Process, WritesThePlugInsOutputToBothSidesOrPassesTheInputWhenItFails)
{
    struct Case {
        std::string className;
        float left, right;
        int inputChannels;
    };
    // The recorder halves its input and without input plays 0.25; a mono output feeds both sides; with
    // stereo input each side keeps its own.
    Case const cases[] = {{"Separate Controller", 0.25f, 0.25f, 1}, {"No Input Bus", 0.25f, 0.25f, 0},
                          {"Mono Output", 0.25f, 0.25f, 1},         {"Mono Input Refused", 0.25f, -0.125f, 2},
                          {"Process Fails", 0.5f, -0.25f, 1}};
    for (Case const& c : cases) {
        auto plugin = loadRecorder(c.className);
        ASSERT_TRUE(plugin);
        ASSERT_TRUE(plugin->prepare(48000, 512));
        StereoBlock block;
        block.run(*plugin, 100);
        EXPECT_EQ(block.outLeft, first100(c.left)) << c.className;
        EXPECT_EQ(block.outRight, first100(c.right)) << c.className;
        EXPECT_EQ(recorder().lastBlock.inputChannels, c.inputChannels) << c.className;
    }
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
    EXPECT_EQ(context.projectTimeSamples, 48000);
    EXPECT_EQ(context.continousTimeSamples, 48000);
    EXPECT_EQ(context.projectTimeMusic, 2.0);
    EXPECT_EQ(context.state, 0x2402u);  // playing, with valid tempo and time signature
    EXPECT_EQ(context.sampleRate, 48000);
    EXPECT_EQ(context.tempo, 120);
    EXPECT_EQ(context.timeSigNumerator, 4);
    EXPECT_EQ(context.timeSigDenominator, 4);

    ASSERT_TRUE(plugin->prepare(44100, 512));
    block.run(*plugin, 512);
    EXPECT_EQ(recorder().lastBlock.context.projectTimeSamples, 48000);
    EXPECT_DOUBLE_EQ(recorder().lastBlock.context.projectTimeMusic, 48000 / 44100.0 * 2.0);
}

TEST(SdkExamples, ProcessAtBothRatesAndRestoreTheirStateOnAFreshInstance)
{
    for (std::string name : {"adelay", "again-sampleaccurate", "syncdelay"}) {
        auto plugin = loadClass(sdkExample(name));
        ASSERT_TRUE(plugin);
        for (double rate : {44100.0, 48000.0}) {
            EXPECT_TRUE(plugin->prepare(rate, 512)) << name << " at " << rate;
            StereoBlock block;
            for (int i = 0; i < 10; ++i)
                block.run(*plugin);
        }
        std::vector<unsigned char> const saved = plugin->state();
        auto fresh = loadClass(sdkExample(name));
        ASSERT_TRUE(fresh);
        EXPECT_TRUE(fresh->setState(saved)) << name;
        EXPECT_EQ(fresh->state(), saved) << name;
    }
}
