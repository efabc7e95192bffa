// Habits of real third-party plug-ins, through the real program in all three modes: an editor view that
// crashes without a display, text printed to standard output, no state worth saving, and bundle paths
// that end in "/".
#include "program.h"
#include "tests/render/render_files.h"
#include "tests/support/sound_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

std::string const UNRULY = RACKHOST_TEST_MODULES "/unruly.vst3";
std::string const EMPTY_STATE = "UVJTQgAAAAAAAAAA";  // "QRSB" and two empty chunks

// The unruly module's class of this name, as "--scan" describes it.
std::string unruly(std::string const& name)
{
    return descriptionOf(UNRULY, name);
}

struct Host : Started {
    std::vector<std::string> seen;  // every line on standard output after READY

    std::string note(std::string const& next)
    {
        seen.push_back(next);
        return next;
    }
    std::string command(std::string const& text) { return note(ask(text)); }
    void load(std::string const& slots, std::string const& expected = ok("1"))
    {
        EXPECT_EQ(command(R"({"cmd":"load","id":1,"slots":)" + slots + "}"), expected);
    }
    std::string state()
    {
        std::string const reply = command(R"({"cmd":"state","id":3,"slot":"a"})");
        EXPECT_TRUE(isState(reply, 3)) << reply;
        return nlohmann::json::parse(reply).value("result", "");
    }
    // Ends the host with "quit"; what it said on the way is in `seen`.
    void quit()
    {
        EXPECT_EQ(command(R"({"cmd":"quit","id":9})"), ok("9"));
        for (std::string const& next : events(300ms))
            note(next);
        EXPECT_EQ(exitCode(), 0);
    }
};

// A run of "--render": exit code, standard output and standard error.
struct Rendered {
    int code;
    std::string out;
    std::string err;
};

Rendered render(std::vector<std::string> args)
{
    args.insert(args.begin(), "--render");
    Program run(args);
    std::string out;
    for (std::string next; (next = run.line()) != "(no line)";)
        out += next + "\n";
    int const code = run.exitCode();
    return {code, out, run.errors()};
}

class Unruly : public testing::Test {
protected:
    TempDir dir;
    std::string const in = dir.file("in.wav");
    std::string const out = dir.file("out.wav");

    void SetUp() override { writeFloatWav(in, 48000, 1, tone(48000, 600, 0.5f)); }
};

}  // namespace

TEST_F(Unruly, AnEditorViewThatCrashesWithoutADisplayIsNeverAskedItsSize)
{
    Host host;
    host.load(slotList(unruly("Crashing Editor")));
    EXPECT_EQ(host.command(R"({"cmd":"editor","id":2,"slot":"a"})"),
              R"({"error":"Plugin windows can't be opened on this system yet.","id":2,"ok":false})");
    host.state();
    EXPECT_EQ(host.command(R"({"cmd":"hide","id":4,"slot":"a"})"), ok("4"));
    host.quit();
}

TEST_F(Unruly, WhatAPluginPrintsLandsOnStandardErrorInEveryMode)
{
    std::string const chatty = unruly("Chatty");
    Host host;
    host.load(slotList(chatty));
    std::string const slots = R"(,"slots":)" + slotList(chatty);
    EXPECT_EQ(host.note(host.play(sharedserver::mainMonitor, sharedserver::mainOutput, slots)), ok("2"));
    for (std::string const& next : host.events(300ms))
        host.note(next);
    EXPECT_EQ(host.command(R"({"cmd":"editor","id":4,"slot":"a"})"),
              R"({"error":"Chatty has no window to open here.","id":4,"ok":false})");
    host.state();
    host.quit();
    for (std::string const& next : host.seen)
        EXPECT_TRUE(nlohmann::json::accept(next)) << next;
    std::string const errors = host.errors();
    for (char const* expected : {"unruly printf: factory\n", "unruly cout: initialize\n", "unruly write: process\n",
                                 "unruly printf: createView\n"})
        EXPECT_NE(errors.find(expected), std::string::npos) << expected << " in " << errors;

    Program scan({"--scan", UNRULY});
    EXPECT_TRUE(scan.line().starts_with(R"({"plugins":[{"format":"vst3","name":"Crashing Editor")"));
    EXPECT_EQ(scan.line(), "(no line)");
    EXPECT_NE(scan.errors().find("unruly write: factory"), std::string::npos);

    Rendered const rendered = render({chatty, in, out});
    EXPECT_EQ(rendered.code, 0) << rendered.err;
    EXPECT_TRUE(rendered.out.starts_with(R"({"frames":600,)")) << rendered.out;
    EXPECT_EQ(std::count(rendered.out.begin(), rendered.out.end(), '\n'), 1) << rendered.out;
    EXPECT_NE(rendered.err.find("unruly cout: process"), std::string::npos);
}

TEST_F(Unruly, AStateThePluginHoldsAlreadyRestoresWhileOneItShouldReadStillRefuses)
{
    std::pair<std::string, std::string> const savers[] = {
        {"Keeps Nothing", EMPTY_STATE},
        {"No State Calls", EMPTY_STATE},
        {"Zero Byte State", "UVJTQgEAAAAAAAAAAA=="},  // "QRSB" and a component chunk of one zero byte
    };
    for (auto const& [name, expected] : savers) {
        std::string const description = unruly(name);
        Host host;
        host.load(slotList(description));
        std::string const saved = host.state();
        EXPECT_EQ(saved, expected);
        host.load(slotList(description, R"(,"state":")" + saved + "\""));
        EXPECT_EQ(host.play(sharedserver::mainMonitor, sharedserver::mainOutput,
                            R"(,"slots":)" + slotList(description, R"(,"state":")" + saved + "\"")),
                  ok("2"));
        host.quit();

        std::string const state = dir.file("state");
        EXPECT_EQ(render({description, in, out, "--save-state", state}).code, 0) << name;
        Rendered const restored = render({description, in, out, "--state", state});
        EXPECT_EQ(restored.code, 0) << name << ": " << restored.err;
    }

    Host host;
    host.load(slotList(descriptionOf(RACKHOST_TEST_MODULES "/refuses-state.vst3"),
                     R"(,"state":")" + EMPTY_STATE + "\""),
              R"({"error":"Couldn't put Refuses State back as it was.","id":1,"ok":false})");
}

TEST_F(Unruly, ABundlePathEndingInSlashesLoads)
{
    for (std::string const slashes : {"/", "//"}) {
        std::string const path = RACKHOST_TEST_MODULES "/passthrough.vst3" + slashes;
        Program scan({"--scan", path});
        nlohmann::json const found = nlohmann::json::parse(scan.line());
        ASSERT_TRUE(found.contains("plugins")) << found;
        nlohmann::json const description = found["plugins"].at(0);
        EXPECT_EQ(description["path"], path);

        Host host;
        host.load(slotList(description.dump()));
        host.quit();
        Rendered const rendered = render({description.dump(), in, out});
        EXPECT_EQ(rendered.code, 0) << rendered.err;
    }
}
