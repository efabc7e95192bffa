// Slot lists replaced while audio runs: freed only once no run can read them, and only here.
#include "audio/rack.h"
#include "tests/audio/test_plugins.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <thread>

namespace {

// Calls `during` in the middle of its processing, where the control thread may act at any moment.
struct Interrupted : TestPlugin {
    using TestPlugin::TestPlugin;

    void process(float const* const* inputs, float* const* outputs, int frames) override
    {
        during();
        TestPlugin::process(inputs, outputs, frames);
    }

    std::function<void()> during;
};

}  // namespace

TEST(RackSlots, AReplacedListIsFreedOnceNoRunCanReadItOrByAForcedCollectAndPluginsLiveWhileAListHoldsThem)
{
    Destructions destructions;
    Rack rack;
    auto kept = std::make_shared<TestPlugin>(1.0f, 0.0f, &destructions);
    rack.setSlots({{"a", kept, false}, {"b", std::make_shared<TestPlugin>(1.0f, 0.0f, &destructions), false}});
    rack.setSlots({{"a", kept, false}});
    rack.collect(false);  // no run was in progress to read it
    EXPECT_EQ(destructions.count, 1);

    // A list replaced during a run stays until that run has ended.
    int freedDuringTheRun = -1;
    auto interrupted = std::make_shared<Interrupted>(1.0f, 0.0f, &destructions);
    interrupted->during = [&] {
        rack.setSlots({{"a", kept, false}});
        rack.collect(false);
        freedDuringTheRun = destructions.count;
    };
    rack.setSlots({{"i", std::move(interrupted), false}});
    float input = 0.0f, left = 0.0f, right = 0.0f;
    rack.run(&input, &left, &right, 1);
    EXPECT_EQ(freedDuringTheRun, 1);
    rack.collect(false);
    EXPECT_EQ(destructions.count, 2);

    rack.setSlots({});
    kept.reset();
    rack.collect(true);
    EXPECT_EQ(destructions.count, 3);
    EXPECT_FALSE(destructions.misplaced);
}

TEST(RackSlots, ListsSwappedThousandsOfTimesUnderARunningAudioThreadAreFreedOnlyOnTheControlThread)
{
    Destructions destructions;
    Rack rack;
    std::atomic<bool> done{false};
    std::atomic<long> runs{0};
    std::thread audio([&] {
        std::vector<float> input(64, 0.5f), left(64), right(64);
        for (; !done; ++runs)
            rack.run(input.data(), left.data(), right.data(), 64);
    });
    // Swapping starts once the audio thread runs: lists no run reads go at once, so swaps alone are quick.
    while (runs == 0)
        std::this_thread::yield();
    int const swaps = 5000;
    for (int i = 0; i < swaps; ++i) {
        rack.setSlots({{"a", std::make_shared<TestPlugin>(1.0f, 0.0f, &destructions), false},
                       {"b", std::make_shared<TestPlugin>(0.5f, 0.0f, &destructions), false}});
        rack.collect(false);
    }
    int const freedWhileRunning = destructions.count;
    done = true;
    audio.join();
    rack.setSlots({});
    rack.collect(true);

    EXPECT_GT(freedWhileRunning, 0);
    EXPECT_EQ(destructions.count, 2 * swaps);
    EXPECT_FALSE(destructions.misplaced);
}
