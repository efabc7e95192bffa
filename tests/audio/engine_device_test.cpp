// The engine on real devices of a PulseAudio server: opening by name, clocking, closing, device loss.
#include "audio/engine.h"
#include "tests/audio/test_plugins.h"
#include "tests/support/sound_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

int channelsOf(std::vector<DeviceInfo> const& devices, std::string const& name)
{
    for (auto const& device : devices) {
        if (device.name == name)
            return device.channels;
    }
    return -1;
}

template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 5000ms)
{
    auto const deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Whether `work` returns within 5 seconds; a call that hangs is left behind on its own thread.
template <typename Work>
bool returnsPromptly(Work work)
{
    std::packaged_task<void()> task(work);
    auto finished = task.get_future();
    std::thread(std::move(task)).detach();
    return finished.wait_for(5s) == std::future_status::ready;
}

struct DeviceTest : ::testing::Test {
    bool open(std::string const& input, std::string const& output, int channel = 0)
    {
        return engine->open(input, channel, output, changed, error);
    }
    void makeEngine()
    {
        engine = std::make_unique<Engine>(rack);
        engine->onStopped = [this](std::string const& sentence) { stopped.set_value(sentence); };
        rack.setSlots({{"probe", probe, false}});
    }
    bool audioFlows()
    {
        int const before = probe->blocks;
        return eventually([&] { return probe->blocks > before + 10; });
    }

    Rack rack;
    std::shared_ptr<TestPlugin> probe = std::make_shared<TestPlugin>();
    std::promise<std::string> stopped;
    std::unique_ptr<SoundServer> server;
    std::unique_ptr<Engine> engine;
    bool changed = false;
    std::string error;
};

// Uses the server that scripts/with-sound-server.sh runs the tests under.
struct SharedServer : DeviceTest {
    void SetUp() override
    {
        if (!sharedserver::expected())
            GTEST_SKIP() << "Run the tests under scripts/with-sound-server.sh to use real devices.";
        makeEngine();
        ASSERT_EQ(channelsOf(engine->devices().outputs, sharedserver::mainOutput), 2)
            << "PULSE_SERVER is set, but the engine doesn't list that server's devices.";
    }
};

// Starts a server of its own, for tests that suspend or kill it.
struct PrivateServer : DeviceTest {
    void SetUp() override
    {
        server = std::make_unique<SoundServer>(
            std::vector<NullSink>{{"main_output", "Main Output"}, {"usb_headphones", "Headphones (USB Test)"}},
            std::vector<NullSource>{{"line_in", "Line In 1-4", 4}});
        setenv("PULSE_SERVER", server->address().c_str(), 1);
        makeEngine();
    }
    // The name of the device ("sink" or "source") that this process's one stream of that kind is attached to.
    std::string attached(std::string const& kind)
    {
        std::string const streamKind = kind == "sink" ? "sink-inputs" : "source-outputs";
        std::istringstream streams(server->pactl({"list", "short", streamKind}).value_or(""));
        std::string stream, device;
        streams >> stream >> device;
        std::istringstream devices(server->pactl({"list", "short", kind + "s"}).value_or(""));
        for (std::string line; std::getline(devices, line);) {
            std::istringstream fields(line);
            std::string index, name;
            if (fields >> index >> name && index == device)
                return name;
        }
        return "(no stream)";
    }
};

}  // namespace

TEST_F(SharedServer, ListsTheServersDevicesWithTheirChannels)
{
    DeviceLists const lists = engine->devices();
    EXPECT_EQ(channelsOf(lists.inputs, sharedserver::lineIn), 4);
    EXPECT_EQ(channelsOf(lists.inputs, sharedserver::microphone), 1);
    EXPECT_EQ(channelsOf(lists.inputs, sharedserver::mainMonitor), 2);
    EXPECT_EQ(channelsOf(lists.inputs, sharedserver::headphonesMonitor), 2);
    EXPECT_EQ(channelsOf(lists.outputs, sharedserver::headphones), 2);
    EXPECT_EQ(lists.outputs.size(), 2u);
}

TEST_F(SharedServer, AnOpenDeviceRunsTheRackIn128FramePeriodsOnceItPlays)
{
    ASSERT_TRUE(open(sharedserver::lineIn, sharedserver::mainOutput)) << error;
    EXPECT_TRUE(changed);
    EXPECT_TRUE(engine->running());
    EXPECT_EQ(engine->sampleRate(), 48000.0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(probe->blocks, 0);

    ASSERT_TRUE(engine->play(error)) << error;
    std::this_thread::sleep_for(1s);
    int const blocks = probe->blocks;
    EXPECT_GT(blocks, 30);  // about 375 a second when idle, far fewer beside a parallel sanitizer run
    EXPECT_LT(blocks, 750);
    EXPECT_EQ(probe->smallestBlock, 128);
    EXPECT_EQ(probe->largestBlock, 128);

    // The same names again leave the playing device alone.
    EXPECT_TRUE(open(sharedserver::lineIn, sharedserver::mainOutput, 3));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(engine->play(error));
    EXPECT_TRUE(audioFlows());
}

TEST_F(SharedServer, StopClosesTheDeviceSoItMustBeOpenedAgain)
{
    ASSERT_TRUE(open(sharedserver::microphone, sharedserver::headphones)) << error;
    ASSERT_TRUE(engine->play(error)) << error;
    ASSERT_TRUE(audioFlows());
    engine->stop();
    EXPECT_FALSE(engine->running());
    EXPECT_EQ(engine->sampleRate(), 0.0);
    EXPECT_FALSE(engine->play(error));
    EXPECT_EQ(error, "The audio devices aren't open.");
    EXPECT_TRUE(open(sharedserver::microphone, sharedserver::headphones));
    EXPECT_TRUE(changed);
}

TEST_F(SharedServer, OpeningOtherDevicesClosesThePlayingOneWithoutReportingItStopped)
{
    ASSERT_TRUE(open(sharedserver::lineIn, sharedserver::mainOutput)) << error;
    ASSERT_TRUE(engine->play(error));
    ASSERT_TRUE(audioFlows());
    ASSERT_TRUE(open("", ""));  // the defaults
    EXPECT_TRUE(changed);
    ASSERT_TRUE(engine->play(error));
    EXPECT_TRUE(audioFlows());

    EXPECT_FALSE(open("Turntable", sharedserver::mainOutput));
    EXPECT_EQ(error, "Couldn't find the input \"Turntable\". Is it plugged in?");
    EXPECT_TRUE(changed);
    EXPECT_FALSE(engine->running());
    EXPECT_FALSE(open(sharedserver::lineIn, "Nowhere"));
    EXPECT_EQ(error, "Couldn't find the output \"Nowhere\". Is it plugged in?");
    EXPECT_FALSE(open("Turntable", "Nowhere"));
    EXPECT_EQ(error, "Couldn't find the input \"Turntable\". Is it plugged in?");
    EXPECT_EQ(stopped.get_future().wait_for(100ms), std::future_status::timeout);
}

TEST_F(PrivateServer, RequestedNamesSelectDevicesByTheLookupRules)
{
    struct Case {
        std::string input, output, source, sink;
    } const cases[] = {
        {"Line In 1-4", "Main Output", "line_in", "main_output"},
        {"line in 1-4", "HEADPHONES (usb test)", "line_in", "usb_headphones"},
        {"main output", "Main Output (left desk)", "main_output.monitor", "main_output"},
        {"Rear Line In 1-4", "phones", "line_in", "usb_headphones"},
    };
    for (auto const& c : cases) {
        ASSERT_TRUE(open(c.input, c.output)) << error;
        EXPECT_EQ(attached("source"), c.source) << "input " << c.input;
        EXPECT_EQ(attached("sink"), c.sink) << "output " << c.output;
    }
}

TEST_F(PrivateServer, ADeviceThatStopsOnItsOwnIsReportedAndStaysOpenUntilStopped)
{
    ASSERT_TRUE(open("Line In", "Main Output")) << error;
    ASSERT_TRUE(engine->play(error));
    ASSERT_TRUE(audioFlows());
    ASSERT_TRUE(server->pactl({"suspend-sink", "main_output", "1"}));
    auto sentence = stopped.get_future();
    ASSERT_EQ(sentence.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(sentence.get(), "The audio device stopped (was it unplugged?).");
    EXPECT_TRUE(engine->running());
    engine->stop();
    EXPECT_FALSE(engine->running());
}

TEST_F(PrivateServer, ClosingADeviceWhoseServerDiedReturnsPromptly)
{
    ASSERT_TRUE(open("Line In", "Main Output")) << error;
    ASSERT_TRUE(engine->play(error));
    ASSERT_TRUE(audioFlows());
    server->kill();
    EXPECT_TRUE(returnsPromptly([&] { engine->stop(); }));
    EXPECT_TRUE(returnsPromptly([&] { engine.reset(); }));
}
