// The device's data callback, driven directly: channel choice, long callbacks and output layout.
#include "audio/engine_impl.h"
#include "tests/audio/test_plugins.h"
#include "tests/support/heap_use.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

namespace {

// An engine's callback state wired to a rack, and a device as the library would describe it.
struct CallbackTest : ::testing::Test {
    CallbackTest()
    {
        engine->rack = &rack;
        device->pUserData = engine.get();
        device->playback.channels = 2;
    }

    // Interleaved capture frames whose sample value tells frame and channel apart: frame + channel / 10.
    std::vector<float> capture(int frames, int channels)
    {
        engine->inputChannels = channels;
        std::vector<float> samples(static_cast<std::size_t>(frames) * channels);
        for (int frame = 0; frame < frames; ++frame)
            for (int channel = 0; channel < channels; ++channel)
                samples[frame * channels + channel] = static_cast<float>(frame) + channel / 10.0f;
        return samples;
    }

    // Runs one callback; returns the interleaved output.
    std::vector<float> call(float const* input, int frames, int channel)
    {
        engine->inputChannel = channel;
        std::vector<float> output(static_cast<std::size_t>(frames) * device->playback.channels, 7.0f);
        Engine::Impl::callback(device.get(), output.data(), input, static_cast<ma_uint32>(frames));
        return output;
    }

    Rack rack;
    std::unique_ptr<Engine::Impl> engine = std::make_unique<Engine::Impl>();
    std::unique_ptr<ma_device> device = std::make_unique<ma_device>();
};

}  // namespace

TEST_F(CallbackTest, TheChosenOrNearestInputChannelReachesBothOutputsAndFurtherOutputChannelsAreSilent)
{
    device->playback.channels = 4;
    auto const input = capture(256, 3);
    std::vector<float> expected;
    for (int frame = 0; frame < 256; ++frame)
        expected.insert(expected.end(), {frame + 0.1f, frame + 0.1f, 0.0f, 0.0f});
    EXPECT_EQ(call(input.data(), 256, 1), expected);

    device->playback.channels = 1;
    auto const mono = capture(300, 1);
    EXPECT_EQ(call(mono.data(), 300, 0), mono);
    EXPECT_EQ(call(mono.data(), 4, 2)[1], 1.0f);  // out of range: the nearest channel

    auto const three = capture(4, 3);
    EXPECT_EQ(call(three.data(), 4, 9)[1], 1.2f);
    EXPECT_EQ(call(three.data(), 4, -3)[1], 1.0f);

    rack.setSlots({{"a", std::make_shared<TestPlugin>(1.0f, 0.25f), false}});
    device->playback.channels = 2;
    EXPECT_EQ(call(nullptr, 3, 0), std::vector<float>(6, 0.25f));  // no capture data: silence runs the chain
}

TEST_F(CallbackTest, ALongCallbackIsProcessedWholeInPluginSizedBlocks)
{
    auto plugin = std::make_shared<TestPlugin>();
    rack.setSlots({{"a", plugin, false}});
    int const frames = 20000;
    auto const input = capture(frames, 2);
    auto const output = call(input.data(), frames, 1);
    for (int frame = 0; frame < frames; frame += 997)
        ASSERT_EQ(output[frame * 2], input[frame * 2 + 1]) << "frame " << frame;
    EXPECT_EQ(output[2 * frames - 1], input[2 * frames - 1]);
    EXPECT_EQ(plugin->frames, frames);
    EXPECT_LE(plugin->largestBlock, 512);
}

TEST_F(CallbackTest, APluginsNaNAndInfinityReachTheDeviceAsSilence)
{
    auto const input = capture(300, 1);
    for (float const bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        rack.setSlots({{"a", std::make_shared<TestPlugin>(1.0f, bad), false},
                       {"b", std::make_shared<TestPlugin>(), false}});
        EXPECT_EQ(call(input.data(), 300, 0), std::vector<float>(600, 0.0f)) << bad;
    }
}

TEST_F(CallbackTest, TheCallbackAllocatesAndFreesNothing)
{
    rack.setSlots({{"a", std::make_shared<TestPlugin>(0.5f, 0.0f), false}});
    rack.setLevels(0.0f, -60.0f, 0.0f);
    auto const input = capture(9000, 4);
    std::vector<float> output(9000 * 2);
    HeapUse const before = heapUseOnThisThread();
    for (int i = 0; i < 1000; ++i)
        Engine::Impl::callback(device.get(), output.data(), input.data(), i % 10 ? 128 : 9000);
    EXPECT_EQ(heapUseOnThisThread(), before);
}

TEST_F(CallbackTest, AStopNoticeOnlyMarksWhichOpeningStoppedAndAllocatesNothing)
{
    // The notice may come on the audio thread: the report, which allocates, is left to the control thread.
    engine->opening = 3;
    ma_device_notification notice{};
    notice.pDevice = device.get();
    notice.type = ma_device_notification_type_stopped;
    // Before the start it is of a device that sat idle (a sink suspended meanwhile), not a stop.
    Engine::Impl::notification(&notice);
    EXPECT_EQ(engine->stoppedOpening, 0u);
    device->state.value = ma_device_state_started;
    HeapUse const before = heapUseOnThisThread();
    Engine::Impl::notification(&notice);
    EXPECT_EQ(heapUseOnThisThread(), before);
    EXPECT_EQ(engine->stoppedOpening, 3u);
}
