// The command protocol of the real program, line for line: reading, reply envelopes, failures, ending.
#include "program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

constexpr char READY[] = R"({"event":"ready"})";
constexpr char UNREADABLE[] = R"({"error":"Couldn't read that command.","ok":false})";

struct Started : Program {
    Started()
    {
        EXPECT_EQ(line(), READY);
    }
};

std::string typeError(int number, std::string const& text, std::string const& id = "null")
{
    return R"({"error":"[json.exception.type_error.)" + std::to_string(number) + "] " + text + R"(","id":)" + id +
           R"(,"ok":false})";
}

}  // namespace

TEST(Commands, RepliesEchoTheIdWhateverItsTypeWithSortedKeys)
{
    Started host;
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":7})"), R"({"id":7,"ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"id":"x","cmd":"stop"})"), R"({"id":"x","ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":{"b":[1,2.5],"a":null}})"),
              R"({"id":{"a":null,"b":[1,2.5]},"ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"cmd":"stop"})"), R"({"id":null,"ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":1,"id":2})"), R"({"id":2,"ok":true,"result":null})");
}

TEST(Commands, UnreadableLinesGetTheFixedAnswerWithoutIdAndEmptyLinesNothing)
{
    Started host;
    for (std::string const bad : {"  ", "\r", R"({"cmd":"stop","id":1} {})", R"({"cmd":"stop","id":1,})",
                                  R"([1,2,])", "{\"cmd\":\"stop\"} // later", "stop", "{\"cmd\":\"\xff\"}"})
        EXPECT_EQ(host.ask(bad), UNREADABLE) << bad;
    host.type("\n\n");
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":2})"), R"({"id":2,"ok":true,"result":null})");
}

TEST(Commands, CarriageReturnLineEndsReadLikePlainOnes)
{
    Started host;
    host.type("{\"cmd\":\"stop\",\"id\":3}\r\n");
    EXPECT_EQ(host.line(), R"({"id":3,"ok":true,"result":null})");
}

TEST(Commands, ValuesThatArentObjectsAreAnsweredWithTheLibrarysTextAndNoId)
{
    Started host;
    EXPECT_EQ(host.ask(R"([{"cmd":"stop","id":1}])"), typeError(306, "cannot use value() with array"));
    EXPECT_EQ(host.ask("5"), typeError(306, "cannot use value() with number"));
    EXPECT_EQ(host.ask(R"("stop")"), typeError(306, "cannot use value() with string"));
    EXPECT_EQ(host.ask("true"), typeError(306, "cannot use value() with boolean"));
    EXPECT_EQ(host.ask("null"), typeError(306, "cannot use value() with null"));
}

TEST(Commands, CommandNamesAndMembersOfTheWrongKindFailWithTheirSentence)
{
    Started host;
    EXPECT_EQ(host.ask(R"({"cmd":null,"id":1})"), typeError(302, "type must be string, but is null", "1"));
    EXPECT_EQ(host.ask(R"({"cmd":"Play","id":2})"), R"({"error":"Unknown command: Play","id":2,"ok":false})");
    EXPECT_EQ(host.ask(R"({})"), R"({"error":"Unknown command: ","id":null,"ok":false})");
    EXPECT_EQ(host.ask(R"({"cmd":"state","slot":4,"id":3})"),
              typeError(302, "type must be string, but is number", "3"));
    EXPECT_EQ(host.ask(R"({"cmd":"state","slot":"a","id":4})"),
              R"({"error":"That plugin isn't loaded.","id":4,"ok":false})");
    EXPECT_EQ(host.ask(R"({"cmd":"hide","slot":"nothing","id":6})"), R"({"id":6,"ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"cmd":"play","gain":"3","id":7})"),
              typeError(302, "type must be number, but is string", "7"));
    EXPECT_EQ(host.ask(R"({"cmd":"play","channel":"1","id":9})"),
              typeError(302, "type must be number, but is string", "9"));
    EXPECT_EQ(host.ask(R"({"cmd":"load","slots":[{"id":5}],"id":10})"),
              typeError(302, "type must be string, but is number", "10"));
    EXPECT_EQ(host.ask(R"({"cmd":"load","slots":"a","id":11})"),
              typeError(306, "cannot use value() with string", "11"));
    EXPECT_EQ(host.ask(R"({"cmd":"load","slots":[{"plugin":[]}],"id":12})"),
              typeError(306, "cannot use value() with array", "12"));
    EXPECT_EQ(host.ask(R"({"cmd":"load","slots":[{"id":"a"}],"id":14})"),
              R"({"error":"This system can't load  plugins.","id":14,"ok":false})");
}

TEST(Commands, SlotListsThatLoadNothingSucceed)
{
    Started host;
    for (std::string const slots : {"[]", "{}", "null"})
        EXPECT_EQ(host.ask(R"({"cmd":"load","id":1,"slots":)" + slots + "}"), R"({"id":1,"ok":true,"result":null})");
    EXPECT_EQ(host.ask(R"({"cmd":"load","id":2})"), R"({"id":2,"ok":true,"result":null})");
}

TEST(Commands, EveryCommandReadBeforeTheEndOfInputIsAnsweredInOrder)
{
    Started host;
    std::string lines;
    for (int id = 0; id < 200; ++id)
        lines += R"({"cmd":"hide","id":)" + std::to_string(id) + "}\n";
    host.type(lines + R"({"cmd":"stop","id":"last"})");  // a last line without a line break
    host.closeInput();
    for (int id = 0; id < 200; ++id)
        ASSERT_EQ(host.line(), R"({"id":)" + std::to_string(id) + R"(,"ok":true,"result":null})");
    EXPECT_EQ(host.line(), R"({"id":"last","ok":true,"result":null})");
    EXPECT_EQ(host.line(), "(no line)");
    EXPECT_EQ(host.exitCode(), 0);
}

TEST(Commands, QuitIsAnsweredAndNothingAfterIt)
{
    Started host;
    host.type("{\"cmd\":\"quit\",\"id\":1}\n{\"cmd\":\"stop\",\"id\":2}\n{\"cmd\":\"stop\",\"id\":3}\n");
    EXPECT_EQ(host.line(), R"({"id":1,"ok":true,"result":null})");
    EXPECT_EQ(host.exitCode(), 0);
    EXPECT_EQ(host.line(), "(no line)");
    EXPECT_EQ(host.errors(), "");
}

TEST(Commands, LinesReachAFileBeforeTheProgramEnds)
{
    std::string const path = testing::TempDir() + "rackhost-output-" + std::to_string(getpid());
    {
        Program host({.outputFile = path});
        host.type("{\"cmd\":\"stop\",\"id\":1}\n{\"cmd\":\"quit\",\"id\":2}\n");
        ASSERT_EQ(host.exitCode(), 0);
    }
    std::ifstream written(path);
    std::stringstream text;
    text << written.rdbuf();
    std::remove(path.c_str());
    EXPECT_EQ(text.str(), std::string(READY) + "\n" + R"({"id":1,"ok":true,"result":null})" + "\n" +
                              R"({"id":2,"ok":true,"result":null})" + "\n");
}

TEST(Commands, DeeplyNestedLinesAreRefusedWithoutHarm)
{
    Started host;
    std::string const depth(300000, '[');
    host.write(R"({"cmd":"stop","id":)" + depth + std::string(depth.size(), ']') + "}");
    EXPECT_EQ(host.line(), UNREADABLE);
    std::string const fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":)" + fine + "}"), R"({"id":)" + fine + R"(,"ok":true,"result":null})");
}

TEST(Commands, NoLevelsAreReportedWhileNoDeviceIsOpen)
{
    Started host;
    EXPECT_EQ(host.linesDuring(300ms), std::vector<std::string>{});
}
