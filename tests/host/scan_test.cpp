// The program's command line: scanning a module, and the arguments it refuses.
#include "program.h"

#include <gtest/gtest.h>

#include <regex>

TEST(Scan, PrintsTheEffectClassesOfAModuleOrWhyItWontLoadAsOneLine)
{
    std::string const module = RACKHOST_TEST_MODULES "/passthrough.vst3";
    Program scan({"--scan", module, "ignored", "--also-ignored"});
    std::string const found = scan.line();
    EXPECT_TRUE(std::regex_match(found, std::regex(R"(\{"plugins":\[\{"format":"vst3","name":"Pass Through","path":")" +
                                                   module + R"(","uid":"[0-9A-F]{32}","vendor":"rackhost tests"\}\]\})")))
        << found;
    EXPECT_EQ(scan.line(), "(no line)");
    EXPECT_EQ(scan.exitCode(), 0);
    EXPECT_EQ(scan.errors(), "");

    Program missing({"--scan", "/nowhere/missing.vst3"});
    std::string const reason = missing.line();
    EXPECT_TRUE(std::regex_match(reason, std::regex(R"(\{"error":".+"\})"))) << reason;
    EXPECT_EQ(missing.exitCode(), 0);
}

TEST(Scan, UnknownOptionsAreRefusedOnStandardErrorAndAnEmptyOneRunsTheHost)
{
    for (std::string const option : {"--scan", "--SCAN", "--scan=x", "-h", "--help", "--Render"}) {
        Program refused({option});
        EXPECT_EQ(refused.exitCode(), 2) << option;
        EXPECT_EQ(refused.line(), "(no line)") << option;
        EXPECT_EQ(refused.errors(), "Unknown option " + option + "\n");
    }
    Program host({"", "--scan"});
    EXPECT_EQ(host.line(), R"({"event":"ready"})");
}
