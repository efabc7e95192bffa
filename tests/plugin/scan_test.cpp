// Listing a module's effect classes and reading the listed ids back when loading; and the
// product's window layer, which opens no windows.
#include "plugin/vst3.h"
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

TEST(Scan, ListsEffectClassesInFactoryOrderAndSkipsInstruments)
{
    std::string error;
    auto const found = scanVst3(testModule("catalog"), error);
    std::vector<std::string> names;
    for (PluginInfo const& info : found)
        names.push_back(info.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Plain Effect", "Lower Case Instrument", "No Vendor", "Twin A", "Twin B"}));
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0].uid, "0AFF000102030405060708090A0B0C0D");
    EXPECT_EQ(found[0].format, "vst3");
    EXPECT_EQ(found[0].path, testModule("catalog"));
    EXPECT_EQ(found[0].vendor, "Catalog Vendor");
    EXPECT_EQ(found[2].vendor, "rackhost catalog");  // the factory's, for a class without its own
    EXPECT_EQ(found[3].uid, found[4].uid);
    EXPECT_EQ(error, "");

    EXPECT_TRUE(scanVst3("/no/such.vst3", error).empty());
    EXPECT_EQ(error, "/no/such.vst3 is not a module directory.");
}

TEST(Scan, PrintsIdsThatLoadBackInEitherCase)
{
    std::string error;
    for (std::string module : {"catalog", "recorder", "passthrough"}) {
        for (PluginInfo const& info : scanVst3(testModule(module), error)) {
            if (info.name == "Not Creatable" || info.name == "Component Init Fails" || info.name == "No Processor")
                continue;
            std::string lowerCase = info.uid;
            std::transform(lowerCase.begin(), lowerCase.end(), lowerCase.begin(), [](unsigned char c) {
                return std::tolower(c);
            });
            for (std::string const& uid : {info.uid, lowerCase}) {
                auto plugin = loadPlugin({info.format, info.path, uid}, error);
                ASSERT_TRUE(plugin) << info.name << ": " << error;
                // The last class with a duplicate id names the plug-in.
                EXPECT_EQ(plugin->name(), info.name == "Twin A" ? "Twin B" : info.name);
            }
        }
    }
}

TEST(WindowNone, OpensNoWindowEvenForAPlugInThatHasAView)
{
    auto plugin = loadRecorder("Separate Controller");
    ASSERT_TRUE(plugin);
    std::string error;
    EXPECT_FALSE(plugin->openEditor(error));
    EXPECT_EQ(error, "Plugin windows can't be opened on this system yet.");
    EXPECT_FALSE(plugin->editorOpen());
    EXPECT_EQ(takeCalls().back(), "view.destroyed");
}
