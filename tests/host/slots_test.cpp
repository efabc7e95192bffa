// Loading slot lists into the real program, and the "edited" and "editor" reports that follow, with the
// test plug-ins. No device is open here, so every list is prepared at 48000 Hz.
#include "program.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

std::string const PASS_THROUGH = RACKHOST_TEST_MODULES "/passthrough.vst3";
std::string const ADELAY = SDK_EXAMPLE_MODULES "/adelay.vst3";

std::string const OK = R"(,"ok":true,"result":null})";

// A host with the pass-through plug-in's description at hand.
struct Rack : Program {
    std::string description = descriptionOf(PASS_THROUGH);

    Rack()
    {
        EXPECT_EQ(line(), R"({"event":"ready"})");
    }

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

    std::string edited(std::string const& slot, std::string const& state) const
    {
        return R"({"event":"edited","slot":")" + slot + R"(","state":")" + state + R"("})";
    }

    // Every line of the next report passes (400 ms each, with room to spare).
    std::vector<std::string> reports()
    {
        return events(900ms);
    }
};

std::string withLowerCaseUid(std::string const& description)
{
    nlohmann::json parsed = nlohmann::json::parse(description);
    std::string uid = parsed["uid"];
    std::transform(uid.begin(), uid.end(), uid.begin(), [](unsigned char c) { return std::tolower(c); });
    parsed["uid"] = uid;
    return parsed.dump();
}

}  // namespace

TEST(Slots, TheSameListAgainKeepsTheRunningPluginsAndReportsNothing)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b", R"(,"bypass":true)") + "]"), R"({"id":1)" + OK);
    std::string const untouched = host.stateOf("a");
    host.ask(R"({"cmd":"editor","slot":"a"})");
    std::string const edited = host.stateOf("a");
    ASSERT_NE(edited, untouched);
    ASSERT_EQ(host.events(900ms), std::vector<std::string>{host.edited("a", edited)});

    // Order, bypass, display names, unread members and a "state" that isn't text don't count as a change.
    nlohmann::json renamed = nlohmann::json::parse(host.description);
    renamed.update({{"name", "Other"}, {"extra", 1}});
    host.description = renamed.dump();
    EXPECT_EQ(host.load("[" + host.slot("b") + "," + host.slot("a", R"(,"state":5)") + "]", 2), R"({"id":2)" + OK);
    EXPECT_EQ(host.stateOf("a"), edited);
    EXPECT_EQ(host.reports(), std::vector<std::string>{});
}

TEST(Slots, StateTextOrAnotherUidLoadsAFreshPluginReportedOnce)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "]"), R"({"id":1)" + OK);
    std::string const state = host.stateOf("a");
    ASSERT_EQ(host.load("[" + host.slot("a", R"(,"state":")" + state + R"(")") + "]", 2), R"({"id":2)" + OK);
    EXPECT_EQ(host.reports(), std::vector<std::string>{host.edited("a", state)});

    // Letter case in the class id names another plug-in, although the module loader accepts both.
    host.description = descriptionOf(ADELAY);
    ASSERT_EQ(host.load("[" + host.slot("a") + "]", 3), R"({"id":3)" + OK);
    ASSERT_EQ(host.events(900ms), std::vector<std::string>{host.edited("a", host.stateOf("a"))});
    host.description = withLowerCaseUid(host.description);
    ASSERT_EQ(host.load("[" + host.slot("a") + "]", 4), R"({"id":4)" + OK);
    std::vector<std::string> const lines = host.reports();
    EXPECT_EQ(lines, std::vector<std::string>{host.edited("a", host.stateOf("a"))});
}

TEST(Slots, StateThatWontRestoreFailsWithThePluginsName)
{
    Rack host;
    for (std::string const state : {"", "not base64!", "QUJD"}) {
        EXPECT_EQ(host.load("[" + host.slot("a", R"(,"state":")" + state + R"(")") + "]"),
                  R"({"error":"Couldn't put Pass Through back as it was.","id":1,"ok":false})")
            << state;
    }
    // A plug-in whose state never restored had no hook yet: nothing to report.
    EXPECT_EQ(host.reports(), std::vector<std::string>{});
}

TEST(Slots, AFailureLeavesTheLoadedPluginsAndReportsTheFreshOnesItDropped)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b") + "]"), R"({"id":1)" + OK);
    std::string const a = host.stateOf("a");
    std::string const b = host.stateOf("b");
    std::string const fresh = R"(,"state":")" + a + R"(")";
    EXPECT_EQ(host.load("[" + host.slot("a", fresh) + "," + host.slot("b", fresh) + R"(,{"id":"c"}])", 2),
              R"({"error":"This system can't load  plugins.","id":2,"ok":false})");
    EXPECT_EQ(host.reports(), (std::vector<std::string>{host.edited("a", a), host.edited("b", b)}));
    EXPECT_EQ(host.stateOf("b"), b);

    EXPECT_EQ(host.load("[" + host.slot("a", fresh + R"(,"bypass":1)") + "]", 3),
              R"({"error":"[json.exception.type_error.302] type must be boolean, but is number","id":3,"ok":false})");
    EXPECT_EQ(host.load("[" + host.slot("a", R"(,"bypass":null)") + "]", 4),
              R"({"error":"[json.exception.type_error.302] type must be boolean, but is null","id":4,"ok":false})");
    EXPECT_EQ(host.reports(), std::vector<std::string>{host.edited("a", a)});
}

TEST(Slots, SlotListsMayBeObjectsAndRepeatIds)
{
    Rack host;
    ASSERT_EQ(host.load(R"({"z":)" + host.slot("a") + R"(,"y":)" + host.slot("a") + "}"), R"({"id":1)" + OK);
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":2,"slot":"a"})").rfind(R"({"id":2,"ok":true,"result":"UVJTQ)", 0), 0u);
    ASSERT_EQ(host.load("[" + host.slot("") + "]", 3), R"({"id":3)" + OK);
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":4})").rfind(R"({"id":4,"ok":true,"result":"UVJTQ)", 0), 0u);
    EXPECT_EQ(host.ask(R"({"cmd":"state","id":5,"slot":"a"})"),
              R"({"error":"That plugin isn't loaded.","id":5,"ok":false})");
}

TEST(Slots, ManyEditsGiveOneEditedLinePerReport)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b") + "]"), R"({"id":1)" + OK);
    EXPECT_EQ(host.ask(R"({"cmd":"editor","id":2,"slot":"b"})"),
              R"({"error":"Pass Through has no window to open here.","id":2,"ok":false})");
    std::vector<std::string> const lines = host.reports();
    EXPECT_EQ(lines, std::vector<std::string>{host.edited("b", host.stateOf("b"))});
    EXPECT_EQ(host.reports(), std::vector<std::string>{});
}

TEST(Slots, HidingReportsEverySlotItClosedButNotOnesRemovedSince)
{
    Rack host;
    ASSERT_EQ(host.load("[" + host.slot("a") + "," + host.slot("b") + "," + host.slot("c") + "]"), R"({"id":1)" + OK);
    EXPECT_EQ(host.ask(R"({"cmd":"hide","id":2})"), R"({"id":2)" + OK);
    std::vector<std::string> const lines = host.reports();
    EXPECT_EQ(lines, (std::vector<std::string>{host.edited("a", host.stateOf("a")),
                                                host.edited("b", host.stateOf("b")),
                                                host.edited("c", host.stateOf("c"))}));
    EXPECT_EQ(host.ask(R"({"cmd":"hide","id":3,"slot":"b"})"), R"({"id":3)" + OK);
    ASSERT_EQ(host.load("[" + host.slot("a") + "]", 4), R"({"id":4)" + OK);
    EXPECT_EQ(host.reports(), std::vector<std::string>{});
}
