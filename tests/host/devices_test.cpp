// Device commands of the real program against a real PulseAudio server of each test's own, so a test
// may suspend or kill it: listing, playing, reopening, stopping, audio flowing and devices that stop.
#include "program.h"
#include "tests/support/sound_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <pthread.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

std::string const PASS_THROUGH = RACKHOST_TEST_MODULES "/passthrough.vst3";
std::string const HEAVY = RACKHOST_TEST_MODULES "/heavy.vst3";

// The test's own server, which every program the test starts from now on reaches (each test runs in a
// process of its own).
struct Server : SoundServer {
    Server() : SoundServer({{"speakers", "Speakers"}, {"headphones", "Headphones"}}, {{"mic", "Mic", 1}})
    {
        setenv("PULSE_SERVER", address().c_str(), 1);
    }

    // One more output, with its monitor as an input, running at `rate`.
    bool addSink(std::string const& name, std::string const& description, int rate)
    {
        return pactl({"load-module", "module-null-sink", "sink_name=" + name, "rate=" + std::to_string(rate),
                      "norewinds=1", "sink_properties=device.description=" + description})
            .has_value();
    }

    // The sink input that a program plays through, by its index on the server.
    std::string playbackStream()
    {
        std::string const streams = pactl({"list", "short", "sink-inputs"}).value_or("");
        return streams.substr(0, streams.find('\t'));
    }
};

struct Host : Started {
    // The "levels" lines among what arrives during the period.
    std::vector<nlohmann::json> levels(std::chrono::milliseconds period)
    {
        std::vector<nlohmann::json> found;
        for (std::string const& next : events(period))
            if (nlohmann::json event = nlohmann::json::parse(next); event["event"] == "levels")
                found.push_back(event);
        return found;
    }

    // Whether a "levels" line within five seconds is one that `shows`.
    template <class Predicate>
    bool levelsWithin5s(Predicate shows)
    {
        for (int attempt = 0; attempt < 50; ++attempt)
            for (nlohmann::json const& level : levels(100ms))
                if (shows(level))
                    return true;
        return false;
    }

    // Whether a "levels" line within five seconds shows a tone at both the input and the output.
    bool hearsATone()
    {
        return levelsWithin5s([](nlohmann::json const& level) { return level["input"] > 0.1 && level["output"] > 0.1; });
    }

    // Whether a "levels" line within five seconds reads `peak` at the output.
    bool outputReads(double peak)
    {
        return levelsWithin5s(
            [peak](nlohmann::json const& level) { return std::abs(level["output"].get<double>() - peak) < 1e-6; });
    }
};

std::string const STOPPED = R"({"event":"stopped","reason":"The audio device stopped (was it unplugged?)."})";

// The reply to "devices" command `id` that lists the test server's devices.
std::string serverDevices(int id)
{
    return R"({"id":)" + std::to_string(id) +
           R"(,"ok":true,"result":{"inputs":[{"channels":2,"name":"Monitor of Speakers"},)"
           R"({"channels":2,"name":"Monitor of Headphones"},{"channels":1,"name":"Mic"}],)"
           R"("outputs":[{"name":"Speakers"},{"name":"Headphones"}]}})";
}

// A slot "a" holding the module's plug-in, as further members of a command.
std::string slotOf(std::string const& module)
{
    return R"(,"slots":)" + slotList(descriptionOf(module));
}

// A four-second sine tone played into a sink; the player is stopped when the object goes.
struct Tone : Program {
    explicit Tone(std::string const& sink)
        : Program({"--raw", "--format=float32le", "--rate=48000", "--channels=1", "--device=" + sink}, "pacat")
    {
        std::string samples;
        for (int frame = 0; frame < 48000 * 4; ++frame) {
            float const sample = 0.5f * static_cast<float>(std::sin(2 * M_PI * 440 * frame / 48000.0));
            samples.append(reinterpret_cast<char const*>(&sample), sizeof sample);
        }
        type(samples);
    }
};

// Whether this process may start a thread scheduled in real time.
bool realTimeAllowed()
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    sched_param const priority{.sched_priority = 10};
    pthread_attr_setschedpolicy(&attributes, SCHED_FIFO);
    pthread_attr_setschedparam(&attributes, &priority);
    pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
    pthread_t thread;
    bool const started = pthread_create(&thread, &attributes, [](void*) -> void* { return nullptr; }, nullptr) == 0;
    if (started)
        pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return started;
}

// Programs started from now on may not schedule in real time, as for a user without the right to it.
void refuseRealTime()
{
    prctl(PR_CAPBSET_DROP, CAP_SYS_NICE, 0, 0, 0);
    rlimit const none{0, 0};
    setrlimit(RLIMIT_RTPRIO, &none);
}

// Whether any thread of process `pid` is scheduled in real time.
bool runsInRealTime(pid_t pid)
{
    for (auto const& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream file(task.path() / "stat");
        std::string const stat{std::istreambuf_iterator<char>(file), {}};
        // The fields after the command's name in parentheses start at the third; the policy is the 41st.
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string policy;
        for (int field = 3; field <= 41; ++field)
            fields >> policy;
        if (policy == std::to_string(SCHED_FIFO) || policy == std::to_string(SCHED_RR))
            return true;
    }
    return false;
}

}  // namespace

TEST(Devices, ListsPlaysReopensOnlyForOtherNamesAndStopsAtOnceEvenAfterTheServerDied)
{
    Server server;
    Host host;
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":1})"), serverDevices(1));
    ASSERT_EQ(host.play("Mic", "Speakers"), ok("2"));
    std::size_t const reports = host.levels(1000ms).size();
    EXPECT_GE(reports, 15u);
    EXPECT_LE(reports, 32u);
    std::string const stream = server.playbackStream();
    ASSERT_NE(stream, "");

    ASSERT_EQ(host.play("Mic", "Speakers"), ok("2"));
    EXPECT_EQ(server.playbackStream(), stream);
    ASSERT_EQ(host.play("Mic", "Headphones"), ok("2"));
    EXPECT_NE(server.playbackStream(), stream);

    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":3})"), ok("3"));
    host.events(100ms);
    EXPECT_EQ(host.levels(300ms).size(), 0u);
    EXPECT_EQ(server.playbackStream(), "");
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":4})"), ok("4"));
    ASSERT_EQ(host.play("Mic", "Headphones"), ok("2"));
    EXPECT_GE(host.levels(300ms).size(), 3u);

    // Stopping waits for nothing from a server that was killed.
    server.kill();
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":5})", 3s), ok("5"));
    EXPECT_TRUE(host.ask(R"({"cmd":"devices","id":6})").starts_with(R"({"id":6,"ok":true,"result":{"inputs":)"));
}

TEST(Devices, AToneAtTheInputReachesTheOutputThroughThePlugin)
{
    Server server;
    Host host;
    ASSERT_EQ(host.play("Monitor of Speakers", "Headphones", slotOf(PASS_THROUGH)), ok("2"));
    Tone tone("speakers");
    EXPECT_TRUE(host.hearsATone());

    // A gain too loud for any float is held at the loudest one: the meters still read numbers.
    ASSERT_EQ(host.play("Monitor of Speakers", "Headphones", R"(,"gain":1000)"), ok("2"));
    host.events(200ms);
    std::vector<nlohmann::json> const loud = host.levels(300ms);
    EXPECT_GE(loud.size(), 3u);  // still playing
    for (nlohmann::json const& level : loud)
        EXPECT_TRUE(level["input"].is_number()) << level;
}

TEST(Devices, APluginsNaNAndInfinityReachTheMetersAsSilence)
{
    Server server;
    Host host;
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(RACKHOST_TEST_MODULES "/non-finite.vst3")), ok("2"));
    std::vector<nlohmann::json> const levels = host.levels(300ms);
    EXPECT_GE(levels.size(), 3u);
    for (nlohmann::json const& level : levels)
        EXPECT_EQ(level["output"], 0.0) << level;
}

TEST(Devices, ADeviceThatStopsOnItsOwnIsReportedOncePlaysAgainAndEndsCleanly)
{
    Server server;
    Host host;
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(PASS_THROUGH)), ok("2"));
    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "1"}));
    std::vector<std::string> lines = host.events(2500ms);
    std::erase_if(lines, [](std::string const& line) { return line.starts_with(R"({"event":"levels")"); });
    EXPECT_EQ(lines, std::vector<std::string>{STOPPED});
    EXPECT_EQ(host.levels(300ms).size(), 0u);

    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "0"}));
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(PASS_THROUGH)), ok("2"));
    EXPECT_GE(host.levels(300ms).size(), 3u);
    EXPECT_TRUE(isState(host.ask(R"({"cmd":"state","id":5,"slot":"a"})"), 5));

    // The end of input while playing, with an editor asked for.
    host.write(R"({"cmd":"editor","slot":"a"})");
    host.closeInput();
    EXPECT_EQ(host.exitCode(), 0);
    EXPECT_EQ(host.errors(), "");
}

TEST(Devices, ASinkSuspendedAndResumedWhileTheDeviceSatIdleDoesntStopTheNextPlay)
{
    Server server;
    Host host;
    // A slot that fails leaves the device open but idle.
    std::string const wrongPath = R"(,"slots":[{"id":"a","plugin":{"format":"vst3","path":"/nowhere.vst3"}}])";
    ASSERT_TRUE(host.play("Mic", "Speakers", wrongPath).ends_with(R"("id":2,"ok":false})"));
    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "1"}));
    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "0"}));
    ASSERT_EQ(host.play("Mic", "Speakers", slotOf(PASS_THROUGH)), ok("2"));
    std::vector<std::string> lines = host.events(500ms);
    std::size_t const all = lines.size();
    std::erase_if(lines, [](std::string const& line) { return line.starts_with(R"({"event":"levels")"); });
    EXPECT_EQ(lines, std::vector<std::string>{});
    EXPECT_GE(all, 5u);
}

TEST(Devices, ANoticeThatAReplacedDeviceStoppedLeavesTheNewOnePlaying)
{
    Server server;
    Host host;
    ASSERT_EQ(host.play("Mic", "Speakers"), ok("2"));
    // A slow load holds the host up while a play to other devices waits behind it and the old device stops.
    host.write(R"({"cmd":"load","id":3,"slots":)" + slotList(descriptionOf(HEAVY, "Slow Start")) + "}");
    host.write(R"({"cmd":"play","id":4,"input":"Mic","output":"Headphones"})");
    ASSERT_TRUE(server.pactl({"suspend-sink", "speakers", "1"}));
    auto const isLevels = [](std::string const& line) { return line.starts_with(R"({"event":"levels")"); };
    std::vector<std::string> replies;
    for (std::string next; replies.size() < 2 && (next = host.line()) != "(no line)";)
        if (!isLevels(next))
            replies.push_back(next);
    EXPECT_EQ(replies, (std::vector<std::string>{ok("3"), ok("4")}));
    std::vector<std::string> after = host.events(300ms);
    std::size_t const lines = after.size();
    std::erase_if(after, isLevels);
    EXPECT_EQ(after, std::vector<std::string>{});
    EXPECT_GE(lines, 3u);  // levels of the new device
}

TEST(Devices, AServerThatDiesIsReportedAsAStoppedDeviceAndOneStartedAgainIsPlayedWithoutARestart)
{
    Server server;
    Host host;
    ASSERT_EQ(host.play("Monitor of Speakers", "Headphones"), ok("2"));
    {
        Tone tone("speakers");
        ASSERT_TRUE(host.hearsATone());
        server.kill();
    }
    // The audio library sends no notice of it: the callback just stops, which the host notices in seconds.
    std::string next;
    for (auto const deadline = std::chrono::steady_clock::now() + 5s;
         (next = host.line()).starts_with(R"({"event":"levels")") && std::chrono::steady_clock::now() < deadline;) {
    }
    EXPECT_EQ(next, STOPPED);
    EXPECT_EQ(host.events(300ms), std::vector<std::string>{});

    // With no server the library falls back to ALSA, whose devices aren't the ones asked for.
    std::string const fallback = host.ask(R"({"cmd":"devices","id":3})");
    EXPECT_TRUE(fallback.starts_with(R"({"id":3,"ok":true,"result":{"inputs":)")) << fallback;
    EXPECT_EQ(host.play("Monitor of Speakers", "Headphones"),
              R"({"error":"Couldn't find the input \"Monitor of Speakers\". Is it plugged in?","id":2,"ok":false})");
    ASSERT_EQ(host.ask(R"({"cmd":"load","id":4)" + slotOf(PASS_THROUGH) + "}"), ok("4"));
    EXPECT_TRUE(isState(host.ask(R"({"cmd":"state","id":5,"slot":"a"})"), 5));

    server.start();
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":6})"), serverDevices(6));
    ASSERT_EQ(host.play("Monitor of Speakers", "Headphones", slotOf(PASS_THROUGH)), ok("2"));
    Tone tone("speakers");
    EXPECT_TRUE(host.hearsATone());

    // A server that restarts while nothing plays is found again too.
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":7})"), ok("7"));
    server.kill();
    server.start();
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":8})"), serverDevices(8));
    server.kill();
    EXPECT_EQ(host.ask(R"({"cmd":"quit","id":9})"), ok("9"));
    EXPECT_EQ(host.exitCode(), 0);
}

TEST(Devices, ARateThePluginRefusesLeavesTheDeviceOpenAndIdle)
{
    Server server;
    ASSERT_TRUE(server.addSink("slow", "Slow", 44100));
    Host host;
    ASSERT_EQ(host.ask(R"({"cmd":"load","id":1)" + slotOf(PASS_THROUGH) + "}"), ok("1"));
    EXPECT_EQ(host.play("Monitor of Slow", "Slow", slotOf(RACKHOST_TEST_MODULES "/picky-rate.vst3")),
              R"({"error":"Picky Rate can't play at 44100 Hz.","id":2,"ok":false})");
    std::vector<nlohmann::json> const idle = host.levels(300ms);
    EXPECT_GE(idle.size(), 3u);
    for (nlohmann::json const& level : idle)
        EXPECT_EQ(level.dump(), R"({"event":"levels","input":0.0,"output":0.0})");
    EXPECT_TRUE(isState(host.ask(R"({"cmd":"state","id":3,"slot":"a"})"), 3));
    EXPECT_EQ(host.play("Monitor of Slow", "Slow", slotOf(PASS_THROUGH)), ok("2"));
}

TEST(Devices, TheAudioThreadRunsInRealTimeWhereTheSystemAllowsItAndWhereItDoesntPlaysAndReopensLeavingNothingOpen)
{
    Server server;
    bool const allowed = realTimeAllowed();
    {
        Host host;
        ASSERT_EQ(host.play("Mic", "Speakers"), ok("2"));
        EXPECT_EQ(runsInRealTime(host.processId()), allowed);
    }
    refuseRealTime();
    Host host;
    ASSERT_EQ(host.play("Mic", "Speakers"), ok("2"));
    std::string const once = server.holdings(host.processId());
    for (int round = 0; round < 25; ++round) {
        ASSERT_EQ(host.play("Mic", "Nowhere"),
                  R"({"error":"Couldn't find the output \"Nowhere\". Is it plugged in?","id":2,"ok":false})");
        ASSERT_EQ(host.play("Mic", "Speakers"), ok("2"));
    }
    EXPECT_EQ(server.holdings(host.processId()), once);
    // The engine's own connection and the device's.
    EXPECT_TRUE(once.starts_with("2 clients, 1 sink-inputs, 1 source-outputs, ")) << once;
    EXPECT_GE(host.levels(500ms).size(), 5u);
    EXPECT_FALSE(runsInRealTime(host.processId()));
}

TEST(Devices, APluginPlaysSetUpForTheDeviceAfterAPlayAtAnotherRateFailed)
{
    Server server;
    ASSERT_TRUE(server.addSink("slow", "Slow", 44100));
    ASSERT_TRUE(server.addSink("slower", "Slower", 32000));
    std::string const picky = descriptionOf(RACKHOST_TEST_MODULES "/picky-rate.vst3");
    std::string const slots = R"(,"slots":)" + slotList(picky);
    Host host;

    // It refuses 44100 Hz, and is left unprepared by that.
    ASSERT_EQ(host.play("Mic", "Speakers", slots), ok("2"));
    EXPECT_EQ(host.play("Monitor of Slow", "Slow", slots),
              R"({"error":"Picky Rate can't play at 44100 Hz.","id":2,"ok":false})");
    ASSERT_EQ(host.play("Mic", "Speakers", slots), ok("2"));
    EXPECT_TRUE(host.outputReads(0.48));

    // It takes 32000 Hz, but the slot after it fails to load.
    EXPECT_EQ(host.play("Monitor of Slower", "Slower", R"(,"slots":[{"id":"a","plugin":)" + picky + R"(},{"id":"b"}])"),
              R"({"error":"This system can't load  plugins.","id":2,"ok":false})");
    ASSERT_EQ(host.play("Mic", "Speakers", slots), ok("2"));
    EXPECT_TRUE(host.outputReads(0.48));
}

TEST(Devices, PlayingTheDefaultsOfAServerWithoutSuchADeviceFailsAndTheHostAnswersOn)
{
    SoundServer server({}, {});
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    Host host;
    std::string const none = R"({"id":1,"ok":true,"result":{"inputs":[],"outputs":[]}})";
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":1})"), none);
    EXPECT_EQ(host.ask(R"({"cmd":"play","id":2})"),
              R"({"error":"Couldn't find an input. Is one plugged in?","id":2,"ok":false})");
    EXPECT_EQ(host.ask(R"({"cmd":"devices","id":1})"), none);
    ASSERT_TRUE(server.pactl({"load-module", "module-null-source", "source_name=mic"}));
    EXPECT_EQ(host.ask(R"({"cmd":"play","id":3})"),
              R"({"error":"Couldn't find an output. Is one plugged in?","id":3,"ok":false})");
}

TEST(Devices, WithoutASoundServerOnlyPlayingFails)
{
    setenv("PULSE_SERVER", "unix:/nonexistent/rackhost-no-server", 1);
    Host host;
    EXPECT_TRUE(host.ask(R"({"cmd":"devices","id":1})").starts_with(R"({"id":1,"ok":true,"result":{"inputs":)"));
    ASSERT_EQ(host.ask(R"({"cmd":"load","id":1)" + slotOf(PASS_THROUGH) + "}"), ok("1"));
    EXPECT_EQ(host.play("Mic", "Speakers"),
              R"({"error":"Couldn't find the input \"Mic\". Is it plugged in?","id":2,"ok":false})");
    EXPECT_TRUE(isState(host.ask(R"({"cmd":"state","id":3,"slot":"a"})"), 3));
}
