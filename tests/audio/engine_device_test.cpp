// The engine on real devices of a PulseAudio server: listing, opening by name, clocking, closing.
#include "audio/engine_impl.h"
#include "tests/audio/test_plugins.h"
#include "tests/support/sound_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <future>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
namespace names = sharedserver;

namespace {

int channelsOf(std::vector<DeviceInfo> const& devices, std::string const& name)
{
    for (auto const& device : devices) {
        if (device.name == name)
            return device.channels;
    }
    return -1;
}

struct DeviceTest : ::testing::Test {
    void makeEngine()
    {
        engine = std::make_unique<Engine>(rack);
        engine->onStopped = [this](std::string const& sentence, std::uint64_t) { stopped.set_value(sentence); };
        rack.setSlots({{"probe", probe, false}});
    }
    bool open(std::string const& input, std::string const& output, int channel = 0)
    {
        return engine->open(input, channel, output, changed, error);
    }
    // Whether the probe sees blocks within 5 seconds.
    bool audioFlows()
    {
        int const before = probe->blocks;
        for (auto const deadline = std::chrono::steady_clock::now() + 5s; probe->blocks <= before + 10;) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    void play(std::string const& input, std::string const& output)
    {
        ASSERT_TRUE(open(input, output)) << error;
        EXPECT_TRUE(changed);
        ASSERT_TRUE(engine->play(error)) << error;
        ASSERT_TRUE(audioFlows());
    }

    Rack rack;
    std::shared_ptr<TestPlugin> probe = std::make_shared<TestPlugin>();
    std::promise<std::string> stopped;
    std::unique_ptr<Engine> engine;
    bool changed = false;
    std::string error;
};

// Uses the server that scripts/with-sound-server.sh runs the tests under.
struct SharedServer : DeviceTest {
    void SetUp() override
    {
        if (!names::expected())
            GTEST_SKIP() << "Run the tests under scripts/with-sound-server.sh to use real devices.";
        makeEngine();
        ASSERT_EQ(channelsOf(engine->devices().outputs, names::mainOutput), 2)
            << "PULSE_SERVER is set, but the engine doesn't list that server's devices.";
    }
};

// Starts a server of its own, whose streams the test can inspect.
struct PrivateServer : DeviceTest {
    void SetUp() override
    {
        server = std::make_unique<SoundServer>(
            std::vector<NullSink>{{"main_output", "Main Output"}, {"usb_headphones", "Headphones (USB Test)"}},
            std::vector<NullSource>{{"line_in", "Line In 1-4", 4}});
        if (char const* shared = std::getenv("PULSE_SERVER"))
            sharedAddress = shared;
        setenv("PULSE_SERVER", server->address().c_str(), 1);
        makeEngine();
    }
    // The tests after this one in the same process find the shared server again.
    void TearDown() override
    {
        if (sharedAddress.empty())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", sharedAddress.c_str(), 1);
    }
    // The name of the "sink" or "source" that this process's one stream of that kind is attached to.
    std::string attached(std::string const& kind)
    {
        std::istringstream streams(
            server->pactl({"list", "short", kind == "sink" ? "sink-inputs" : "source-outputs"}).value_or(""));
        std::string stream, device, index, name, rest;
        streams >> stream >> device;
        std::istringstream devices(server->pactl({"list", "short", kind + "s"}).value_or(""));
        while (devices >> index >> name && std::getline(devices, rest)) {
            if (index == device)
                return name;
        }
        return "(no stream)";
    }

    std::unique_ptr<SoundServer> server;
    std::string sharedAddress;  // PULSE_SERVER before this test, empty when unset
};

}  // namespace

TEST_F(SharedServer, AnOpenDeviceRunsTheRackIn128FramePeriodsWhilePlayingUntilStopped)
{
    ASSERT_TRUE(open(names::lineIn, names::mainOutput)) << error;
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
    EXPECT_TRUE(open(names::lineIn, names::mainOutput, 3));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(engine->play(error));
    EXPECT_TRUE(audioFlows());

    // Stopping closes the device, so it must be opened again.
    engine->stop();
    EXPECT_FALSE(engine->running());
    EXPECT_FALSE(engine->play(error));
    EXPECT_TRUE(open(names::lineIn, names::mainOutput));
    EXPECT_TRUE(changed);
}

TEST_F(SharedServer, OpeningOtherDevicesClosesThePlayingOneWithoutReportingItStopped)
{
    play(names::lineIn, names::mainOutput);
    play("", "");  // the defaults

    EXPECT_FALSE(open("Turntable", names::mainOutput));
    EXPECT_EQ(error, "Couldn't find the input \"Turntable\". Is it plugged in?");
    EXPECT_TRUE(changed);
    EXPECT_FALSE(engine->running());
    EXPECT_FALSE(open(names::lineIn, "Nowhere"));
    EXPECT_EQ(error, "Couldn't find the output \"Nowhere\". Is it plugged in?");
    EXPECT_FALSE(open("Turntable", "Nowhere"));
    EXPECT_EQ(error, "Couldn't find the input \"Turntable\". Is it plugged in?");
    engine->watch();  // where a stop would be reported
    EXPECT_EQ(stopped.get_future().wait_for(100ms), std::future_status::timeout);
}

TEST_F(PrivateServer, ListedInputsShowTheirChannelsAndRequestedNamesSelectDevicesByTheLookupRules)
{
    DeviceLists const lists = engine->devices();
    EXPECT_EQ(channelsOf(lists.inputs, "Line In 1-4"), 4);
    EXPECT_EQ(channelsOf(lists.inputs, "Monitor of Main Output"), 2);
    EXPECT_EQ(lists.outputs.size(), 2u);

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

TEST_F(PrivateServer, ADeviceThatFailsToOpenLeavesNothingOpen)
{
    std::string const before = server->holdings(getpid());
    // A device thread the system can't give a stack to fails the open after the streams are set up.
    ma_context_config contextConfig = ma_context_config_init();
    contextConfig.threadStackSize = std::size_t{1} << 47;
    ma_backend const pulse = ma_backend_pulseaudio;
    ma_context context;
    ASSERT_EQ(ma_context_init(&pulse, 1, &contextConfig, &context), MA_SUCCESS);
    ma_device_config config = ma_device_config_init(ma_device_type_duplex);
    config.dataCallback = [](ma_device*, void*, void const*, ma_uint32) {};
    ma_device device;
    EXPECT_FALSE(openDevice(context, config, device));
    // A rate no stream may have makes the server refuse the stream after the connection is made.
    config.sampleRate = 10'000'000;
    EXPECT_FALSE(openDevice(context, config, device));
    // A source unplugged after it was looked up: the server finds no such source.
    config.sampleRate = 0;
    ma_device_id unplugged{};
    std::strcpy(unplugged.pulse, "unplugged");
    config.capture.pDeviceID = &unplugged;
    EXPECT_FALSE(openDevice(context, config, device));
    // The default source of a server that has none left, opened on a fresh stack as the host's first open
    // is, where the library's record of the missing source holds 0 channels rather than an earlier one's.
    config.capture.pDeviceID = nullptr;
    ASSERT_TRUE(server->pactl({"unload-module", "module-null-source"}));
    ASSERT_TRUE(server->pactl({"unload-module", "module-null-sink"}));
    std::async(std::launch::async, [&] { EXPECT_FALSE(openDevice(context, config, device)); }).wait();
    ma_context_uninit(&context);
    EXPECT_EQ(server->holdings(getpid()), before);
}
