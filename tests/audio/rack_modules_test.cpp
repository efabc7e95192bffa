// The rack with the SDK's example plug-ins: a chain of real modules runs without allocating, and lists
// of freshly loaded modules swapped under a running audio thread are freed safely.
#include "audio/rack.h"
#include "plugin/vst3.h"
#include "tests/support/heap_use.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace {

// A prepared instance of the first class of one of the SDK's example modules.
std::shared_ptr<Plugin> example(std::string const& name)
{
    std::string error;
    std::string const path = std::string(SDK_EXAMPLE_MODULES) + "/" + name + ".vst3";
    auto const classes = scanVst3(path, error);
    if (classes.empty())
        throw std::runtime_error("Couldn't scan " + path + ": " + error);
    std::shared_ptr<Plugin> plugin = loadPlugin({"vst3", path, classes.front().uid}, error);
    if (!plugin || !plugin->prepare(48000.0, 512))
        throw std::runtime_error("Couldn't load " + path + ": " + error);
    return plugin;
}

}  // namespace

TEST(RackModules, AChainOfRealPluginsRunsWithoutAllocating)
{
    Rack rack;
    rack.setLevels(0.0f, -60.0f, 0.0f);
    std::vector<Slot> slots;
    for (int i = 0; i < 4; ++i)
        slots.push_back({"delay", example("adelay"), false});
    rack.setSlots(std::move(slots));
    std::vector<float> input(1000, 0.5f), left(1000), right(1000);
    rack.run(input.data(), left.data(), right.data(), 128);

    HeapUse const before = heapUseOnThisThread();
    for (int i = 0; i < 1000; ++i)
        rack.run(input.data(), left.data(), right.data(), i % 2 ? 128 : 1000);
    EXPECT_EQ(heapUseOnThisThread(), before);
    EXPECT_GT(rack.takeLevels().output, 0.0f);
}

TEST(RackModules, RealPluginsSwappedUnderARunningAudioThreadAreFreedSafely)
{
    Rack rack;
    std::atomic<bool> done{false};
    std::atomic<long> runs{0};
    std::thread audio([&] {
        std::vector<float> input(128, 0.25f), left(128), right(128);
        for (; !done; ++runs)
            rack.run(input.data(), left.data(), right.data(), 128);
    });
    for (int i = 0; i < 100; ++i) {
        rack.setSlots({{"a", example(i % 2 ? "adelay" : "again-sampleaccurate"), false}});
        rack.collect(false);
    }
    done = true;
    audio.join();
    rack.collect(true);
    EXPECT_GT(runs, 100);
}
