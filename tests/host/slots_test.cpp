// Loading slot lists into the real program, and the "edited" and "editor" reports that follow, with the
// test plug-ins. No device is open here but in the burst test, so every list is prepared at 48000 Hz.
#include "program.h"
#include "tests/support/sanitized.h"
#include "tests/support/sound_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>

namespace {

using Lines = std::vector<std::string>;

// A host with the pass-through plug-in's description at hand.
struct Rack : Started {
    std::string description = descriptionOf(RACKHOST_TEST_MODULES "/passthrough.vst3");

    // One slot list entry; `more` is added as further members.
    std::string slot(std::string const& id, std::string const& more = "") const
    {
        return R"({"id":")" + id + R"(","plugin":)" + description + more + "}";
    }

    std::string load(std::string const& slots, int id = 1)
    {
        return ask(R"({"cmd":"load","id":)" + std::to_string(id) + R"(,"slots":)" + slots + "}");
    }

    // The slot's state as base64 text, as the "state" command gives it.
    std::string stateOf(std::string const& slot)
    {
        std::string const reply = ask(R"({"cmd":"state","id":0,"slot":")" + slot + R"("})");
        return nlohmann::json::parse(reply).value("result", reply);
    }

    static std::string edited(std::string const& slot, std::string const& state)
    {
        return R"({"event":"edited","slot":")" + slot + R"(","state":")" + state + R"("})";
    }

    // Every line of the next report pass (400 ms each, with room to spare).
    Lines reports() { return events(900ms); }
};

}  // namespace

TEST(Slots, AnUnchangedEntryKeepsItsPluginWhileStateTextOrAnotherClassLoadsAFreshOne)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b", R"(,"bypass":true)") + "]"), ok("1"));
    std::string const untouched = host.stateOf("a");
    host.ask(R"({"cmd":"editor","slot":"a"})");
    std::string const edited = host.stateOf("a");
    ASSERT_NE(edited, untouched);
    ASSERT_EQ(host.reports(), Lines{host.edited("a", edited)});

    // Order, bypass, display names, unread members and a "state" that isn't text don't count as a change.
    nlohmann::json renamed = nlohmann::json::parse(host.description);
    renamed.update({{"name", "Other"}, {"extra", 1}});
    host.description = renamed.dump();
    EXPECT_EQ(host.load("[" + host.slot("b") + "," + host.slot("a", R"(,"state":5)") + "]", 2), ok("2"));
    EXPECT_EQ(host.stateOf("a"), edited);
    EXPECT_EQ(host.reports(), Lines{});

    // State text does, even the state the plug-in already has.
    ASSERT_EQ(host.load("[" + host.slot("a", R"(,"state":")" + edited + R"(")") + "]", 3), ok("3"));
    EXPECT_EQ(host.reports(), Lines{host.edited("a", edited)});

    // So does another class id, and letter case in it names another one, although the module loader accepts both.
    host.description = descriptionOf(SDK_EXAMPLE_MODULES "/adelay.vst3");
    ASSERT_EQ(host.load("[" + host.slot("a") + "]", 4), ok("4"));
    ASSERT_EQ(host.reports(), Lines{host.edited("a", host.stateOf("a"))});
    nlohmann::json lowerCase = nlohmann::json::parse(host.description);
    std::string uid = lowerCase["uid"];
    std::ranges::transform(uid, uid.begin(), [](unsigned char c) { return std::tolower(c); });
    lowerCase["uid"] = uid;
    host.description = lowerCase.dump();
    ASSERT_EQ(host.load("[" + host.slot("a") + "]", 5), ok("5"));
    EXPECT_EQ(host.reports(), Lines{host.edited("a", host.stateOf("a"))});
}

TEST(Slots, StateThatWontRestoreFailsWithThePluginsName)
{
    Rack host;
    for (std::string const state : {"", "not base64!", "QUJD"})
        EXPECT_EQ(host.load("[" + host.slot("a", R"(,"state":")" + state + R"(")") + "]"),
                  R"({"error":"Couldn't put Pass Through back as it was.","id":1,"ok":false})")
            << state;
    // A plug-in whose state never restored had no hook yet: nothing to report.
    EXPECT_EQ(host.reports(), Lines{});
}

TEST(Slots, AFailureLeavesTheLoadedPluginsAndReportsTheFreshOnesItDropped)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b") + "]"), ok("1"));
    std::string const a = host.stateOf("a");
    std::string const b = host.stateOf("b");
    std::string const fresh = R"(,"state":")" + a + R"(")";
    EXPECT_EQ(host.load("[" + host.slot("a", fresh) + "," + host.slot("b", fresh) + R"(,{"id":"c"}])", 2),
              R"({"error":"This system can't load  plugins.","id":2,"ok":false})");
    EXPECT_EQ(host.reports(), (Lines{host.edited("a", a), host.edited("b", b)}));
    EXPECT_EQ(host.stateOf("b"), b);

    EXPECT_EQ(host.load("[" + host.slot("a", fresh + R"(,"bypass":1)") + "]", 3),
              R"({"error":"[json.exception.type_error.302] type must be boolean, but is number","id":3,"ok":false})");
    EXPECT_EQ(host.load("[" + host.slot("a", R"(,"bypass":null)") + "]", 4),
              R"({"error":"[json.exception.type_error.302] type must be boolean, but is null","id":4,"ok":false})");
    EXPECT_EQ(host.reports(), Lines{host.edited("a", a)});
}

TEST(Slots, SlotListsMayBeObjectsAndRepeatIds)
{
    Rack host;
    ASSERT_EQ(host.load(R"({"z":)" + host.slot("a") + R"(,"y":)" + host.slot("a") + "}"), ok("1"));
    EXPECT_TRUE(isState(host.ask(R"({"cmd":"state","id":2,"slot":"a"})"), 2));
    ASSERT_EQ(host.load("[" + host.slot("") + "]", 3), ok("3"));
    EXPECT_TRUE(isState(host.ask(R"({"cmd":"state","id":4})"), 4));
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":5,"slot":"a"})"),
              R"({"error":"That plugin isn't loaded.","id":5,"ok":false})");
}

TEST(Slots, EditsAreReportedOncePerPassAlsoAfterHidingButNotForRemovedSlots)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b") + "," + host.slot("c") + "]"), ok("1"));
    EXPECT_EQ(host.ask(R"({"cmd":"editor","id":2,"slot":"b"})"),
              R"({"error":"Pass Through has no window to open here.","id":2,"ok":false})");
    EXPECT_EQ(host.reports(), Lines{host.edited("b", host.stateOf("b"))});
    EXPECT_EQ(host.reports(), Lines{});

    EXPECT_EQ(host.ask(R"({"cmd":"hide","id":3})"), ok("3"));
    EXPECT_EQ(host.reports(), (Lines{host.edited("a", host.stateOf("a")), host.edited("b", host.stateOf("b")),
                                     host.edited("c", host.stateOf("c"))}));
    EXPECT_EQ(host.ask(R"({"cmd":"hide","id":4,"slot":"b"})"), ok("4"));
    ASSERT_EQ(host.load("[" + host.slot("a") + "]", 5), ok("5"));
    EXPECT_EQ(host.reports(), Lines{});
}

TEST(Slots, ABurstOfCommandsHoldsNoMorePluginsThanOneOfThem)
{
    Rack host;
    host.description = descriptionOf(RACKHOST_TEST_MODULES "/heavy.vst3", "Big Buffers");
    // Swaps the plug-in in and out `times` times, each command sent without waiting for the one before.
    auto const swap = [&host](int times) {
        std::string commands;
        for (int i = 0; i < times; ++i)
            commands += R"({"cmd":"load","id":1,"slots":[)" + host.slot("a") + "]}\n" R"({"cmd":"load","id":1})" "\n";
        host.type(commands);
        for (int replies = 0; replies < 2 * times;) {
            std::string const next = host.line();
            ASSERT_NE(next, "(no line)");
            if (!next.starts_with(R"({"event":)")) {
                EXPECT_EQ(next, ok("1"));
                ++replies;
            }
        }
    };
    swap(1);
#ifndef RACKHOST_SANITIZER_ALLOCATOR
    long const limit = 2 * host.peakResidentKb();
#else  // its allocator holds freed memory back on purpose
    long const limit = std::numeric_limits<long>::max();
#endif
    swap(100);
    EXPECT_LT(host.peakResidentKb(), limit);

    // A device open but not started (its slot failed) runs no audio, so nothing waits for a run to free what
    // a load replaced; nor does a device started, before its first period.
    ASSERT_EQ(host.play(sharedserver::mainMonitor, sharedserver::mainOutput, R"(,"slots":[{"id":"b"}])"),
              R"({"error":"This system can't load  plugins.","id":2,"ok":false})");
    swap(100);
    EXPECT_LT(host.peakResidentKb(), limit);
    ASSERT_EQ(host.play(sharedserver::mainMonitor, sharedserver::mainOutput), ok("2"));
    swap(100);
    EXPECT_LT(host.peakResidentKb(), limit);
}
