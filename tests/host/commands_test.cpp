// The command protocol of the real program, line for line: reading, reply envelopes, failures, ending.
#include "program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

constexpr char UNREADABLE[] = R"({"error":"Couldn't read that command.","ok":false})";

std::string typeError(int number, std::string const& text, std::string const& id = "null")
{
    return R"({"error":"[json.exception.type_error.)" + std::to_string(number) + "] " + text + R"(","id":)" + id +
           R"(,"ok":false})";
}

}  // namespace

TEST(Commands, EveryLineGetsItsWholeReplyAndEmptyLinesNone)
{
    std::vector<std::pair<std::string, std::string>> const exchanges = {
        // "id" comes back whatever its JSON type, with sorted keys; null when absent; the last of two.
        {R"({"cmd":"stop","id":7})", ok("7")},
        {R"({"id":"x","cmd":"stop"})", ok(R"("x")")},
        {R"({"cmd":"stop","id":{"b":[1,2.5],"a":null}})", ok(R"({"a":null,"b":[1,2.5]})")},
        {R"({"cmd":"stop"})", ok("null")},
        {R"({"cmd":"stop","id":1,"id":2})", ok("2")},
        {"{\"cmd\":\"stop\",\"id\":3}\r", ok("3")},
        // Values that aren't objects get the library's own text, and no id.
        {R"([{"cmd":"stop","id":1}])", typeError(306, "cannot use value() with array")},
        {"5", typeError(306, "cannot use value() with number")},
        {R"("stop")", typeError(306, "cannot use value() with string")},
        {"true", typeError(306, "cannot use value() with boolean")},
        {"null", typeError(306, "cannot use value() with null")},
        // Command names and members of the wrong kind.
        {R"({"cmd":null,"id":1})", typeError(302, "type must be string, but is null", "1")},
        {R"({"cmd":"Play","id":2})", R"({"error":"Unknown command: Play","id":2,"ok":false})"},
        {"{}", R"({"error":"Unknown command: ","id":null,"ok":false})"},
        {R"({"cmd":"state","slot":4,"id":3})", typeError(302, "type must be string, but is number", "3")},
        {R"({"cmd":"state","slot":"a","id":4})", R"({"error":"That plugin isn't loaded.","id":4,"ok":false})"},
        {R"({"cmd":"hide","slot":"nothing","id":6})", ok("6")},
        {R"({"cmd":"play","gain":"3","id":7})", typeError(302, "type must be number, but is string", "7")},
        {R"({"cmd":"play","channel":"1","id":9})", typeError(302, "type must be number, but is string", "9")},
        {R"({"cmd":"load","slots":[{"id":5}],"id":10})", typeError(302, "type must be string, but is number", "10")},
        {R"({"cmd":"load","slots":"a","id":11})", typeError(306, "cannot use value() with string", "11")},
        {R"({"cmd":"load","slots":[{"plugin":[]}],"id":12})", typeError(306, "cannot use value() with array", "12")},
        {R"({"cmd":"load","slots":[{"plugin":null}],"id":13})", typeError(306, "cannot use value() with null", "13")},
        {R"({"cmd":"load","slots":[{"plugin":{"uid":null}}],"id":16})",
         typeError(302, "type must be string, but is null", "16")},
        {R"({"cmd":"load","slots":[{"id":"a"}],"id":14})",
         R"({"error":"This system can't load  plugins.","id":14,"ok":false})"},
        {R"({"cmd":"load","id":15})", ok("15")},
    };
    Started host;
    host.type("\n\n");
    for (auto const& [command, reply] : exchanges)
        EXPECT_EQ(host.ask(command), reply) << command;
    for (std::string const bad : {"  ", "\r", R"({"cmd":"stop","id":1} {})", R"({"cmd":"stop","id":1,})", "[1,2,]",
                                  R"({"cmd":"stop"} // later)", "stop", "{\"cmd\":\"\xff\"}"})
        EXPECT_EQ(host.ask(bad), UNREADABLE) << bad;
    for (std::string const slots : {"[]", "{}", "null"})  // lists that load nothing
        EXPECT_EQ(host.ask(R"({"cmd":"load","id":1,"slots":)" + slots + "}"), ok("1")) << slots;
    // Nor does anything else come, "levels" included, while no device is open.
    EXPECT_EQ(host.events(300ms), std::vector<std::string>{});
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
        ASSERT_EQ(host.line(), ok(std::to_string(id)));
    EXPECT_EQ(host.line(), ok(R"("last")"));
    EXPECT_EQ(host.line(), "(no line)");
    EXPECT_EQ(host.exitCode(), 0);
}

TEST(Commands, QuitIsAnsweredAndNothingAfterIt)
{
    Started host;
    host.type("{\"cmd\":\"quit\",\"id\":1}\n{\"cmd\":\"stop\",\"id\":2}\n{\"cmd\":\"stop\",\"id\":3}\n");
    EXPECT_EQ(host.line(), ok("1"));
    EXPECT_EQ(host.exitCode(), 0);
    EXPECT_EQ(host.line(), "(no line)");
    EXPECT_EQ(host.errors(), "");
}

TEST(Commands, LinesReachAFileBeforeTheProgramEnds)
{
    std::string const path = testing::TempDir() + "rackhost-output-" + std::to_string(getpid());
    {
        // The shell only points standard output at the file, then becomes rackhost.
        Program host({"-c", R"(exec "$0" > "$1")", RACKHOST_BINARY, path}, "sh");
        host.type("{\"cmd\":\"stop\",\"id\":1}\n{\"cmd\":\"quit\",\"id\":2}\n");
        ASSERT_EQ(host.exitCode(), 0);
    }
    std::ifstream written(path);
    std::string const text{std::istreambuf_iterator<char>(written), {}};
    std::remove(path.c_str());
    EXPECT_EQ(text, std::string(READY) + "\n" + ok("1") + "\n" + ok("2") + "\n");
}

TEST(Commands, DeeplyNestedLinesAreRefusedWithoutHarm)
{
    Started host;
    std::string const depth(300000, '[');
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":)" + depth + std::string(depth.size(), ']') + "}"), UNREADABLE);
    std::string const fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":)" + fine + "}"), ok(fine));
}

TEST(Commands, ALineHoldingARawNulByteIsUnreadableWhereverItStandsAndNothingOfItRuns)
{
    using namespace std::string_literals;
    Started host;
    for (std::string const bad : {"\0{\"cmd\":\"quit\",\"id\":1}"s, "{\"cmd\":\"qu\0it\",\"id\":2}"s,
                                  "{\"cmd\":\"hide\",\"id\":\"p1\"}\0junk"s,
                                  "{\"cmd\":\"quit\",\"id\":\"q\"}\0 this line is not JSON"s})
        EXPECT_EQ(host.ask(bad), UNREADABLE);
    // Escaped, a NUL is a character of a string like any other.
    EXPECT_EQ(host.ask(R"({"cmd":"stop","id":"a\u0000b"})"), ok(R"("a\u0000b")"));
    EXPECT_EQ(host.ask(R"({"cmd":"quit","id":3})"), ok("3"));
    EXPECT_EQ(host.exitCode(), 0);
}
