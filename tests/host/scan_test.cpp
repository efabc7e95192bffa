// The program's command line: scanning a module, and the arguments it refuses; a module whose bundle was
// copied only in part, scanned and loaded.
#include "program.h"
#include "tests/render/render_files.h"

#include <gtest/gtest.h>

#include <filesystem>
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

TEST(Scan, ALibraryCutShortThatAModuleNeedsFromItsBundleIsNamedAndTheHostAnswersOn)
{
    TempDir folder;
    // Its parts beside the module's library, or in a folder below that only run paths name.
    for (std::string const module : {"bundled-parts", "parts-in-lib"}) {
        std::filesystem::path const bundle = folder.file(module + ".vst3");
        std::filesystem::copy(RACKHOST_TEST_MODULES "/" + module + ".vst3", bundle,
                              std::filesystem::copy_options::recursive);
        std::filesystem::path const parts =
            bundle / "Contents/x86_64-linux" / (module == "parts-in-lib" ? "lib" : "");
        std::string const load = R"({"cmd":"load","id":1,"slots":)" + slotList(descriptionOf(bundle)) + "}";
        // A host of its own, which no library of the other module's is loaded in.
        Started host;
        // Needed by the module's library, and by that library in turn.
        for (std::string const name : {"libbundled-part.so", "libbundled-base.so"}) {
            std::filesystem::path const library = parts / name;
            std::filesystem::copy_file(library, folder.file(name));
            std::filesystem::resize_file(library, 5000);
            std::string const reason = library.string() + " is cut short.";
            Program scan({"--scan", bundle});
            EXPECT_EQ(scan.line(), R"({"error":")" + reason + R"("})");
            EXPECT_EQ(scan.exitCode(), 0);
            EXPECT_EQ(host.ask(load),
                      R"({"error":"Couldn't load )" + bundle.string() + ": " + reason + R"(","id":1,"ok":false})");
            std::filesystem::rename(folder.file(name), library);
        }
        EXPECT_EQ(host.ask(load), ok("1")) << module;
    }
}
