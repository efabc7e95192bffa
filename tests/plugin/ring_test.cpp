// The edit ring under real concurrency: the main thread edits through the plug-in's controller
// while another thread processes blocks. Run under ThreadSanitizer as well.
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(EditRing, CarriesEditsFromTheControllerToARunningAudioThreadInOrder)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->prepare(48000, 512));
    std::atomic<bool> editing{true};
    std::thread audio([&] {
        StereoBlock block;
        while (editing.load())
            block.run(*plugin, 64);
        block.run(*plugin, 64);
    });
    int const edits = 60000;  // far more than the ring holds, fewer than the probe keeps
    for (int i = 1; i <= edits; ++i)
        callHandler(HandlerCall::performEdit, 0, i);
    editing = false;
    audio.join();

    RecorderProbe const& probe = recorder();
    ASSERT_GT(probe.pointCount, 0u);
    for (std::size_t i = 1; i < probe.pointCount; ++i)
        ASSERT_LT(probe.points[i - 1].value, probe.points[i].value) << "at point " << i;

    callHandler(HandlerCall::performEdit, 1, -1.0);  // the ring still works once the rush is over
    StereoBlock().run(*plugin, 64);
    EXPECT_EQ(lastBlockPoints(), (std::vector<Point>{{1, -1.0}}));
}
