// Slot lists replaced while audio runs: freed only once no run can read them, and only here.
#include "audio/rack.h"
#include "tests/audio/test_plugins.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

TEST(RackSlots, AReplacedListIsFreedAfterTheNextRunOrByAForcedCollectAndPluginsLiveWhileAListHoldsThem)
{
    Destructions destructions;
    Rack rack;
    auto kept = std::make_shared<TestPlugin>(1.0f, 0.0f, &destructions);
    rack.setSlots({{"a", kept, false}, {"b", std::make_shared<TestPlugin>(1.0f, 0.0f, &destructions), false}});
    rack.setSlots({{"a", kept, false}});
    rack.collect(false);
    EXPECT_EQ(destructions.count, 0);

    rack.run(nullptr, nullptr, nullptr, 0);  // even a run without frames counts
    rack.collect(false);
    EXPECT_EQ(destructions.count, 1);

    rack.setSlots({});
    kept.reset();
    rack.collect(false);
    EXPECT_EQ(destructions.count, 1);
    rack.collect(true);
    EXPECT_EQ(destructions.count, 2);
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

    EXPECT_GT(runs, 0);
    EXPECT_GT(freedWhileRunning, 0);
    EXPECT_EQ(destructions.count, 2 * swaps);
    EXPECT_FALSE(destructions.misplaced);
}
