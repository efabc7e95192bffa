// Line output and base64, in the cases the real program's tests can't reach.
#include "host/protocol.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

using nlohmann::json;
using namespace std::string_literals;

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

}  // namespace

TEST(Send, WritesOneLineWithUtf8KeptInvalidBytesReplacedAndFloatsWidened)
{
    EXPECT_EQ(sent({{"a", "line\nbreak"}}), "{\"a\":\"line\\nbreak\"}\n");
    EXPECT_EQ(sent({{"name", "Caf\xC3\xA9"}}), "{\"name\":\"Caf\xC3\xA9\"}\n");
    EXPECT_EQ(sent({{"name", "Caf\xE9!"}}), "{\"name\":\"Caf\xEF\xBF\xBD!\"}\n");
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

TEST(Base64, PadsToWholeGroupsAndRoundTripsEveryByteValue)
{
    for (auto const& [text, encoded] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"}, {"\xFB\xFF\xBF", "+/+/"}})
        EXPECT_EQ(base64(bytes(text)), encoded) << text;

    std::vector<unsigned char> all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<unsigned char>(i));
    for (std::size_t cut = 0; cut < 4; ++cut) {
        std::vector<unsigned char> const part(all.begin(), all.end() - static_cast<long>(cut));
        std::vector<unsigned char> decoded;
        EXPECT_TRUE(unbase64(base64(part), decoded));
        EXPECT_EQ(decoded, part);
    }
}

TEST(Unbase64, DecodesUpToTheFirstEqualsSignAndRefusesCharactersOutsideTheAlphabet)
{
    struct Case {
        std::string text;
        bool ok;
        std::string decoded;
    };
    // Padding is optional, leftover bits are dropped, and whatever follows "=" is ignored.
    for (Case const& c : std::vector<Case>{{"", true, ""}, {"QQ==", true, "A"}, {"QQ", true, "A"}, {"QR==", true, "A"},
                                           {"Q", true, ""}, {"TWE", true, "Ma"}, {"TWFu=TWFu", true, "Man"},
                                           {"TWFu= \n-_\x01", true, "Man"}, {"TWFu TWFu", false, "Man"}}) {
        std::vector<unsigned char> out{1, 2, 3};
        EXPECT_EQ(unbase64(c.text, out), c.ok) << c.text;
        EXPECT_EQ(out, bytes(c.decoded)) << c.text;
    }
    for (std::string const& refused : {"TW\nFu"s, "TW-u"s, "TW_u"s, "TW\0u"s, "TW\xC3\xA9"s}) {
        std::vector<unsigned char> out;
        EXPECT_FALSE(unbase64(refused, out)) << refused;
    }
}
