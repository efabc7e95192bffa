// Line output, base64 and plug-in descriptions as the controller sees them.
#include "host/protocol.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

using nlohmann::json;

namespace {

std::string sent(json const& message)
{
    testing::internal::CaptureStdout();
    send(message);
    return testing::internal::GetCapturedStdout();
}

std::vector<unsigned char> bytes(std::string const& text)
{
    return {text.begin(), text.end()};
}

std::vector<unsigned char> decoded(std::string const& text, bool expectOk = true)
{
    std::vector<unsigned char> out{1, 2, 3};
    EXPECT_EQ(unbase64(text, out), expectOk) << text;
    return out;
}

std::string errorOf(json const& description)
{
    try {
        refFrom(description);
    } catch (json::type_error const& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Send, WritesOneCompactLineWithKeysInByteOrder)
{
    json reply;
    reply["result"] = nullptr;
    reply["ok"] = true;
    reply["id"] = 7;
    EXPECT_EQ(sent(reply), "{\"id\":7,\"ok\":true,\"result\":null}\n");
    EXPECT_EQ(sent({{"ok", false}, {"error", "x"}, {"id", nullptr}}), "{\"error\":\"x\",\"id\":null,\"ok\":false}\n");
}

TEST(Send, KeepsEveryMessageOnOneLine)
{
    EXPECT_EQ(sent({{"a", "line\nbreak"}}), "{\"a\":\"line\\nbreak\"}\n");
}

TEST(Send, WritesUtf8AsIsAndReplacesInvalidBytes)
{
    EXPECT_EQ(sent({{"name", "Caf\xC3\xA9"}}), "{\"name\":\"Caf\xC3\xA9\"}\n");
    EXPECT_EQ(sent({{"name", "Caf\xE9!"}}), "{\"name\":\"Caf\xEF\xBF\xBD!\"}\n");
}

TEST(Send, PrintsSinglePrecisionValuesAsTheDoublesTheyWidenTo)
{
    EXPECT_EQ(sent({{"input", 0.1f}, {"output", 0.0f}}), "{\"input\":0.10000000149011612,\"output\":0.0}\n");
}

TEST(Send, LinesFromManyThreadsNeverInterleave)
{
    testing::internal::CaptureStdout();
    std::vector<std::thread> writers;
    std::string const filler(2000, 'x');
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t, &filler] {
            for (int i = 0; i < 200; ++i)
                send({{"thread", t}, {"i", i}, {"filler", filler}});
        });
    for (auto& writer : writers)
        writer.join();
    std::istringstream lines(testing::internal::GetCapturedStdout());
    std::set<std::pair<int, int>> seen;
    for (std::string line; std::getline(lines, line);) {
        json const message = json::parse(line);
        seen.emplace(message["thread"].get<int>(), message["i"].get<int>());
    }
    EXPECT_EQ(seen.size(), 800u);
}

TEST(Base64, PadsToWholeGroupsOfFour)
{
    EXPECT_EQ(base64({}), "");
    EXPECT_EQ(base64(bytes("M")), "TQ==");
    EXPECT_EQ(base64(bytes("Ma")), "TWE=");
    EXPECT_EQ(base64(bytes("Man")), "TWFu");
    EXPECT_EQ(base64({0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Base64, RoundTripsEveryByteValue)
{
    std::vector<unsigned char> all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<unsigned char>(i));
    for (std::size_t cut = 0; cut < 4; ++cut) {
        std::vector<unsigned char> const part(all.begin(), all.end() - static_cast<long>(cut));
        EXPECT_EQ(decoded(base64(part)), part);
    }
}

TEST(Unbase64, ClearsItsOutputAndAcceptsTheEmptyText)
{
    EXPECT_TRUE(decoded("").empty());
}

TEST(Unbase64, PaddingIsOptionalAndLeftoverBitsAreDropped)
{
    EXPECT_EQ(decoded("QQ=="), bytes("A"));
    EXPECT_EQ(decoded("QQ"), bytes("A"));
    EXPECT_EQ(decoded("QR=="), bytes("A"));
    EXPECT_TRUE(decoded("Q").empty());
    EXPECT_EQ(decoded("TWE"), bytes("Ma"));
}

TEST(Unbase64, StopsAtTheFirstEqualsSign)
{
    EXPECT_EQ(decoded("TWFu=TWFu"), bytes("Man"));
    EXPECT_EQ(decoded("TWFu= \n-_\x01"), bytes("Man"));
}

TEST(Unbase64, RefusesCharactersOutsideTheAlphabet)
{
    EXPECT_EQ(decoded("TWFu TWFu", false), bytes("Man"));
    decoded("TW\nFu", false);
    decoded("TW-u", false);
    decoded("TW_u", false);
    decoded(std::string("TW\0u", 4), false);
    decoded("TW\xC3\xA9", false);
}

TEST(Description, IsWrittenWithAllFiveMembers)
{
    EXPECT_EQ(sent(toJson({"vst3", "/p/x.vst3", "00FF", "", ""})),
              "{\"format\":\"vst3\",\"name\":\"\",\"path\":\"/p/x.vst3\",\"uid\":\"00FF\",\"vendor\":\"\"}\n");
}

TEST(Description, ReadsBackWhatWasWritten)
{
    PluginInfo const info{"vst3", "/p/\xC3\xA9.vst3", "0A0B", "Name", "Vendor"};
    EXPECT_EQ(refFrom(toJson(info)), (PluginRef{info.format, info.path, info.uid}));
}

TEST(Description, MissingMembersAreEmptyAndOthersIgnored)
{
    EXPECT_EQ(refFrom(json::object()), PluginRef{});
    EXPECT_EQ(refFrom({{"Format", "vst3"}, {"UID", "x"}, {"name", nullptr}, {"vendor", 5}, {"path", "p"}}),
              (PluginRef{"", "p", ""}));
}

TEST(Description, WrongTypesRaiseTheLibrarysOwnText)
{
    EXPECT_EQ(errorOf(json::array()), "[json.exception.type_error.306] cannot use value() with array");
    EXPECT_EQ(errorOf("text"), "[json.exception.type_error.306] cannot use value() with string");
    EXPECT_EQ(errorOf(nullptr), "[json.exception.type_error.306] cannot use value() with null");
    EXPECT_EQ(errorOf({{"uid", nullptr}}), "[json.exception.type_error.302] type must be string, but is null");
    EXPECT_EQ(errorOf({{"path", 5}, {"format", true}}),
              "[json.exception.type_error.302] type must be string, but is boolean");
}
