// Saving a plug-in's state as a blob and restoring it, malformed blobs included.
#include "plugin/vst3.h"
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using Bytes = std::vector<unsigned char>;
using Calls = std::vector<std::string>;

void appendCount(Bytes& blob, std::uint32_t count)
{
    for (int shift = 0; shift < 32; shift += 8)
        blob.push_back(static_cast<unsigned char>(count >> shift));
}

Bytes blob(std::string const& component, std::string const& controller, std::string const& after = "")
{
    Bytes bytes{'Q', 'R', 'S', 'B'};
    appendCount(bytes, static_cast<std::uint32_t>(component.size()));
    bytes.insert(bytes.end(), component.begin(), component.end());
    appendCount(bytes, static_cast<std::uint32_t>(controller.size()));
    bytes.insert(bytes.end(), controller.begin(), controller.end());
    bytes.insert(bytes.end(), after.begin(), after.end());
    return bytes;
}

Bytes withCountAt(Bytes bytes, std::size_t offset, std::uint32_t count)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(count >> (8 * i));
    return bytes;
}

}  // namespace

TEST(State, HoldsBothSidesAndRestoresEachSideItsOwnBytes)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    Bytes const saved = plugin->state();
    EXPECT_EQ(saved, blob("component state", "controller state"));
    takeCalls();

    EXPECT_TRUE(plugin->setState(saved));
    EXPECT_EQ(takeCalls(), (Calls{"component.setState component state",
                                  "controller.setComponentState component state",
                                  "controller.setState controller state"}));
}

TEST(State, OfAPlugInWithoutControllerEndsInAnEmptyChunk)
{
    auto plugin = loadRecorder("No Controller");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->state(), blob("component state", ""));
    takeCalls();
    EXPECT_TRUE(plugin->setState(blob("mine", "ignored without a controller")));
    EXPECT_EQ(takeCalls(), (Calls{"component.setState mine"}));
}

TEST(State, EmptyChunksStillReachTheComponentButNotTheControllersState)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    EXPECT_TRUE(plugin->setState(blob("", "")));
    EXPECT_EQ(takeCalls(), (Calls{"component.setState ", "controller.setComponentState "}));
}

TEST(State, RefusesMalformedBlobsWithoutCallingThePlugIn)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    Bytes const good = blob("abc", "de");  // 4 + 4 + 3 + 4 + 2 = 17 bytes
    Bytes const malformed[] = {
        {},
        Bytes(good.begin(), good.begin() + 11),
        Bytes(good.begin(), good.end() - 1),            // controller chunk runs past the end
        withCountAt(good, 4, 6),                        // leaves 3 bytes for the controller count
        withCountAt(good, 4, 10),                       // component chunk runs past the end
        withCountAt(good, 4, 0xFFFFFFFC),               // would wrap 32-bit sums
        withCountAt(good, 11, 0xFFFFFFF7),              // likewise for the controller count
        Bytes{'Q', 'R', 'S', 'b', 0, 0, 0, 0, 0, 0, 0, 0},
        Bytes{'X', 'R', 'S', 'B', 0, 0, 0, 0, 0, 0, 0, 0},
    };
    takeCalls();
    for (Bytes const& bytes : malformed)
        EXPECT_FALSE(plugin->setState(bytes)) << bytes.size() << " bytes";
    EXPECT_EQ(takeCalls(), Calls{});
}

TEST(State, IgnoresBytesAfterTheControllerChunk)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    EXPECT_TRUE(plugin->setState(blob("abc", "de", "trailing")));
    EXPECT_EQ(takeCalls().back(), "controller.setState de");
}

TEST(State, OnlyTheComponentCanRefuseARestore)
{
    auto refusing = loadRecorder("State Refused");
    ASSERT_TRUE(refusing);
    EXPECT_FALSE(refusing->setState(blob("abc", "de")));
    EXPECT_EQ(takeCalls(), (Calls{"component.setState abc"}));

    auto rejecting = loadRecorder("Controller Rejects State");
    ASSERT_TRUE(rejecting);
    EXPECT_TRUE(rejecting->setState(blob("abc", "de")));

    // It also writes 4 KiB into the stream it was given to read: that must not reach past the bytes
    // handed in (the sanitizer build catches it).
    auto contract = loadClass(testModule("refuses-state"), "Refuses State");
    ASSERT_TRUE(contract);
    Bytes const own = contract->state();
    EXPECT_FALSE(contract->setState(own));
    EXPECT_EQ(contract->state(), own);
}

TEST(State, PassThroughFollowsItsParameterAcrossInstances)
{
    auto plugin = loadClass(testModule("passthrough"), "Pass Through");
    ASSERT_TRUE(plugin);
    Bytes const initial = plugin->state();
    std::string error;
    EXPECT_FALSE(plugin->openEditor(error));  // makes ten edits of its parameter
    Bytes const edited = plugin->state();
    EXPECT_NE(edited, initial);

    auto fresh = loadClass(testModule("passthrough"), "Pass Through");
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->setState(edited));
    EXPECT_EQ(fresh->state(), edited);
}

TEST(SdkExamples, RestoreTheirStateOnAFreshInstance)
{
    for (std::string name : {"adelay", "again-sampleaccurate", "syncdelay"}) {
        std::string error;
        auto const classes = scanVst3(sdkExample(name), error);
        ASSERT_FALSE(classes.empty()) << name;
        PluginRef const ref{"vst3", classes[0].path, classes[0].uid};
        auto plugin = loadPlugin(ref, error);
        ASSERT_TRUE(plugin) << error;
        Bytes const saved = plugin->state();
        auto fresh = loadPlugin(ref, error);
        ASSERT_TRUE(fresh) << error;
        EXPECT_TRUE(fresh->setState(saved)) << name;
        EXPECT_EQ(fresh->state(), saved) << name;
    }
}
