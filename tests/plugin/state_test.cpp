// Saving a plug-in's state as a blob and restoring it, malformed blobs included.
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using Bytes = std::vector<unsigned char>;

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

TEST(State, HoldsBothSidesAndAnEmptyChunkForAPlugInWithoutController)
{
    EXPECT_EQ(loadRecorder("Separate Controller")->state(), blob("component state", "controller state"));
    EXPECT_EQ(loadRecorder("No Controller")->state(), blob("component state", ""));
}

TEST(State, RestoresEachSideItsOwnBytesAndOnlyTheComponentCanRefuse)
{
    Calls const bothSides = {"component.setState abc", "controller.setComponentState abc", "controller.setState de"};
    struct Case {
        std::string className;
        Bytes bytes;
        bool restored;
        Calls calls;
    };
    Case const cases[] = {
        {"Separate Controller", blob("abc", "de", "trailing bytes are ignored"), true, bothSides},
        {"Separate Controller", blob("", ""), true, {"component.setState ", "controller.setComponentState "}},
        {"No Controller", blob("abc", "ignored without a controller"), true, {"component.setState abc"}},
        // A refusal stands unless the component saves exactly those bytes now.
        {"State Refused", blob("abc", "de"), false, {"component.setState abc", "component.getState"}},
        {"Controller Rejects State", blob("abc", "de"), true, bothSides},
    };
    for (Case const& c : cases) {
        auto plugin = loadRecorder(c.className);
        ASSERT_TRUE(plugin);
        EXPECT_EQ(plugin->setState(c.bytes), c.restored) << c.className;
        EXPECT_EQ(takeCalls(), c.calls) << c.className;
    }

    // It also writes 4 KiB into the stream it was given to read: that must not reach past the bytes
    // handed in (the sanitizer build catches it).
    auto scribbler = loadClass(testModule("refuses-state"), "Refuses State");
    ASSERT_TRUE(scribbler);
    Bytes const own = scribbler->state();
    EXPECT_FALSE(scribbler->setState(blob("REFUSES STATF", "")));
    EXPECT_EQ(scribbler->state(), own);
}

TEST(State, RefusesMalformedBlobsWithoutCallingThePlugIn)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    Bytes const good = blob("abc", "de");  // 4 + 4 + 3 + 4 + 2 = 17 bytes
    Bytes const malformed[] = {
        {},
        Bytes(good.begin(), good.begin() + 11),
        Bytes(good.begin(), good.end() - 1),  // controller chunk runs past the end
        withCountAt(good, 4, 6),              // leaves 3 bytes for the controller count
        withCountAt(good, 4, 10),             // component chunk runs past the end
        withCountAt(good, 4, 0xFFFFFFFC),     // would wrap 32-bit sums
        withCountAt(good, 11, 0xFFFFFFF7),    // likewise for the controller count
        Bytes{'Q', 'R', 'S', 'b', 0, 0, 0, 0, 0, 0, 0, 0},
        Bytes{'X', 'R', 'S', 'B', 0, 0, 0, 0, 0, 0, 0, 0},
    };
    for (Bytes const& bytes : malformed)
        EXPECT_FALSE(plugin->setState(bytes)) << bytes.size() << " bytes";
    EXPECT_EQ(takeCalls(), Calls{});
}
