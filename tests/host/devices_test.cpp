// Device commands of the real program against a real PulseAudio server of each test's own, so a test
// may suspend or kill it: listing, playing, reopening, stopping, audio flowing and devices that stop.
#include "program.h"
#include "tests/support/sound_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <unistd.h>

namespace {

std::string const PASS_THROUGH = RACKHOST_TEST_MODULES "/passthrough.vst3";
std::string const PICKY_RATE = RACKHOST_TEST_MODULES "/picky-rate.vst3";
constexpr char OK_2[] = R"({"id":2,"ok":true,"result":null})";
constexpr char STOPPED[] = R"({"event":"stopped","reason":"The audio device stopped (was it unplugged?)."})";

struct Server : SoundServer {
    Server() : SoundServer({{"speakers", "Speakers"}, {"headphones", "Headphones"}}, {{"mic", "Mic", 1}}) {}

    // The sink input that a program plays through, by its index on the server.
    std::string playbackStream()
    {
        std::string const streams = pactl({"list", "short", "sink-inputs"}).value_or("");
        return streams.substr(0, streams.find('\t'));
    }
};

struct Host : Program {
    explicit Host(std::string const& server) : Program({.env = {"PULSE_SERVER=" + server}})
    {
        EXPECT_EQ(line(), R"({"event":"ready"})");
    }

    std::string play(std::string const& input, std::string const& output, std::string const& slots = "[]")
    {
        return ask(R"({"cmd":"play","id":2,"input":")" + input + R"(","output":")" + output +
                   R"(","slots":)" + slots + "}");
    }

    // The "levels" lines among what arrives during the period.
    std::vector<nlohmann::json> levels(std::chrono::milliseconds period)
    {
        std::vector<nlohmann::json> found;
        for (std::string const& next : events(period)) {
            nlohmann::json const event = nlohmann::json::parse(next);
            if (event["event"] == "levels")
                found.push_back(event);
        }
        return found;
    }
};

std::string slotOf(std::string const& module)
{
    return R"([{"id":"a","plugin":)" + descriptionOf(module) + "}]";
}

// A sine tone played into a sink for as long as the object lives.
struct Tone {
    std::string file = testing::TempDir() + "rackhost-tone-" + std::to_string(getpid());
    Program player;

    Tone(SoundServer const& server, std::string const& sink) : player(start(server, sink, file)) {}
    ~Tone() { std::remove(file.c_str()); }

    static Program::Options start(SoundServer const& server, std::string const& sink, std::string const& file)
    {
        std::ofstream out(file, std::ios::binary);
        for (int frame = 0; frame < 48000 * 20; ++frame) {
            float const sample = 0.5f * static_cast<float>(std::sin(2 * M_PI * 440 * frame / 48000.0));
            out.write(reinterpret_cast<char const*>(&sample), sizeof sample);
        }
        return {.args = {"--raw", "--format=float32le", "--rate=48000", "--channels=1", "--device=" + sink, file},
                .env = {"PULSE_SERVER=" + server.address()},
                .executable = "pacat"};
    }
};

}  // namespace

TEST(Devices, ListsInputsWithTheirChannelsAndOutputsByName)
{
    Server server;
    Host host(server.address());
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":1})"),
              R"({"id":1,"ok":true,"result":{"inputs":[{"channels":2,"name":"Monitor of Speakers"},)"
              R"({"channels":2,"name":"Monitor of Headphones"},{"channels":1,"name":"Mic"}],)"
              R"("outputs":[{"name":"Speakers"},{"name":"Headphones"}]}})");
}

TEST(Devices, PlayKeepsTheOpenDeviceForTheSameNamesAndReopensForOthers)
{
    Server server;
    Host host(server.address());
    ASSERT_EQ(host.play("Mic", "Speakers"), OK_2);
    std::size_t const reports = host.levels(1000ms).size();
    EXPECT_GE(reports, 15u);
    EXPECT_LE(reports, 32u);
    std::string const stream = server.playbackStream();
    ASSERT_NE(stream, "");

    ASSERT_EQ(host.play("Mic", "Speakers"), OK_2);
    EXPECT_EQ(server.playbackStream(), stream);
    ASSERT_EQ(host.play("Mic", "Headphones"), OK_2);
    EXPECT_NE(server.playbackStream(), stream);

    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":3})"), R"({"id":3,"ok":true,"result":null})");
    host.events(100ms);
    EXPECT_EQ(host.levels(300ms).size(), 0u);
    EXPECT_EQ(server.playbackStream(), "");
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":4})"), R"({"id":4,"ok":true,"result":null})");
    ASSERT_EQ(host.play("Mic", "Headphones"), OK_2);
    EXPECT_GE(host.levels(300ms).size(), 3u);
}

TEST(Devices, AToneAtTheInputReachesTheOutputThroughThePlugin)
{
    Server server;
    Host host(server.address());
    ASSERT_EQ(host.play("Monitor of Speakers", "Headphones", slotOf(PASS_THROUGH)), OK_2);
    Tone tone(server, "speakers");
    bool heard = false;
    for (int attempt = 0; attempt < 50 && !heard; ++attempt)
        for (nlohmann::json const& level : host.levels(100ms))
            heard = heard || (level["input"] > 0.1 && level["output"] > 0.1);
    EXPECT_TRUE(heard);

    // A gain too loud for any float is held at the loudest one: the meters still read numbers.
    ASSERT_EQ(host.ask(R"({"cmd":"play","id":2,"gain":1000,"input":"Monitor of Speakers","output":"Headphones"})"),
              OK_2);
    host.events(200ms);
    for (nlohmann::json const& level : host.levels(300ms))
        EXPECT_TRUE(level["input"].is_number()) << level;
}

TEST(Devices, ADeviceThatStopsOnItsOwnIsReportedOnceAndPlaysAgain)
{
    Server server;
    Host host(server.address());
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(PASS_THROUGH)), OK_2);
    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "1"}));
    std::vector<std::string> lines = host.events(2500ms);
    std::erase_if(lines, [](std::string const& line) { return line.rfind(R"({"event":"levels")", 0) == 0; });
    EXPECT_EQ(lines, std::vector<std::string>{STOPPED});
    EXPECT_EQ(host.levels(300ms).size(), 0u);

    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "0"}));
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(PASS_THROUGH)), OK_2);
    EXPECT_GE(host.levels(300ms).size(), 3u);
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":5,"slot":"a"})").rfind(R"({"id":5,"ok":true,"result":"UVJTQ)", 0), 0u);
}

TEST(Devices, TheEndOfInputWhilePlayingEndsTheProgramCleanly)
{
    Server server;
    Host host(server.address());
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(PASS_THROUGH)), OK_2);
    host.write(R"({"cmd":"editor","slot":"a"})");
    host.closeInput();
    EXPECT_EQ(host.exitCode(), 0);
    EXPECT_EQ(host.errors(), "");
}

TEST(Devices, StopAnswersAtOnceAfterTheSoundServerWasKilled)
{
    Server server;
    Host host(server.address());
    ASSERT_EQ(host.play("Mic", "Speakers"), OK_2);
    server.kill();
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":3})", 3s), R"({"id":3,"ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":4})", 3s).rfind(R"({"id":4,"ok":true,"result":{"inputs":)", 0), 0u);
}

TEST(Devices, ARateThePluginRefusesLeavesTheDeviceOpenAndIdle)
{
    Server server;
    ASSERT_TRUE(server.pactl({"load-module", "module-null-sink", "sink_name=slow", "rate=44100", "norewinds=1",
                              "sink_properties=device.description=Slow"}));
    Host host(server.address());
    ASSERT_EQ(host.ask(R"({"cmd":"load","id":1,"slots":)" + slotOf(PASS_THROUGH) + "}"),
              R"({"id":1,"ok":true,"result":null})");
    EXPECT_EQ(host.play("Monitor of Slow", "Slow", slotOf(PICKY_RATE)),
              R"({"error":"Picky Rate can't play at 44100 Hz.","id":2,"ok":false})");
    std::vector<nlohmann::json> const idle = host.levels(300ms);
    EXPECT_GE(idle.size(), 3u);
    for (nlohmann::json const& level : idle)
        EXPECT_EQ(level.dump(), R"({"event":"levels","input":0.0,"output":0.0})");
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":3,"slot":"a"})").rfind(R"({"id":3,"ok":true,"result":"UVJTQ)", 0), 0u);
    EXPECT_EQ(host.play("Monitor of Slow", "Slow", slotOf(PASS_THROUGH)), OK_2);
}

TEST(Devices, WithoutASoundServerOnlyPlayingFails)
{
    Host host("unix:/nonexistent/rackhost-no-server");
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":1})").rfind(R"({"id":1,"ok":true,"result":{"inputs":)", 0), 0u);
    ASSERT_EQ(host.ask(R"({"cmd":"load","id":1,"slots":)" + slotOf(PASS_THROUGH) + "}"),
              R"({"id":1,"ok":true,"result":null})");
    EXPECT_EQ(host.play("Mic", "Speakers"),
              R"({"error":"Couldn't find the input \"Mic\". Is it plugged in?","id":2,"ok":false})");
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":3,"slot":"a"})").rfind(R"({"id":3,"ok":true,"result":"UVJTQ)", 0), 0u);
}
