// The program's command line: scanning a module, and the arguments it refuses.
#include "program.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

std::string const PASS_THROUGH = RACKHOST_TEST_MODULES "/passthrough.vst3";

}  // namespace

TEST(Scan, ListsTheEffectClassesOfAModuleAsOneLine)
{
    Program scan({.args = {"--scan", PASS_THROUGH, "ignored", "--also-ignored"}});
    std::string const found = scan.line();
    EXPECT_TRUE(std::regex_match(found, std::regex(R"(\{"plugins":\[\{"format":"vst3","name":"Pass Through","path":")" +
                                                   PASS_THROUGH + R"(","uid":"[0-9A-F]{32}","vendor":"rackhost tests"\}\]\})")))
        << found;
    EXPECT_EQ(scan.line(), "(no line)");
    EXPECT_EQ(scan.exitCode(), 0);
    EXPECT_EQ(scan.errors(), "");
}

TEST(Scan, AModuleThatWontLoadGivesTheLoadersReason)
{
    Program scan({.args = {"--scan", "/nowhere/missing.vst3"}});
    std::string const found = scan.line();
    EXPECT_TRUE(std::regex_match(found, std::regex(R"(\{"error":".+"\})"))) << found;
    EXPECT_EQ(scan.exitCode(), 0);
}

TEST(Scan, UnknownOptionsAreRefusedOnStandardError)
{
    for (std::string const option : {"--scan", "--SCAN", "--scan=x", "-h", "--help", "--Render"}) {
        Program refused({.args = {option}});
        EXPECT_EQ(refused.exitCode(), 2) << option;
        EXPECT_EQ(refused.line(), "(no line)") << option;
        EXPECT_EQ(refused.errors(), "Unknown option " + option + "\n");
    }
}

TEST(Scan, AnEmptyFirstArgumentRunsTheHost)
{
    Program host({.args = {"", "--scan"}});
    EXPECT_EQ(host.line(), R"({"event":"ready"})");
}
