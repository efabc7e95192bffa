// Loading a plug-in by its description, why a load fails, and how a plug-in is taken apart.
#include "plugin_fixture.h"

#include <pluginterfaces/vst/ivsthostapplication.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace {

using Calls = std::vector<std::string>;

std::string loadError(PluginRef const& ref)
{
    std::string error = "earlier text";
    EXPECT_EQ(loadPlugin(ref, error), nullptr);
    return error;
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool mapped(std::string const& fileName)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(fileName) != std::string::npos)
            return true;
    return false;
}

long openFiles()
{
    auto const entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(entries), end(entries));
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> value)
            return value;
        status.ignore(1000, '\n');
    }
    return 0;
}

}  // namespace

TEST(LoadPlugin, NamesFormatsItCannotLoad)
{
    EXPECT_EQ(loadError({"VST3", testModule("passthrough"), ""}), "This system can't load VST3 plugins.");
    EXPECT_EQ(loadError({"", testModule("passthrough"), ""}), "This system can't load  plugins.");
}

TEST(LoadVst3, ExplainsAModuleThatWontLoadWithTheLoadersOwnWords)
{
    EXPECT_EQ(loadError({"vst3", "/no/such.vst3", "short"}),
              "Couldn't load /no/such.vst3: /no/such.vst3 is not a module directory.");

    std::string const unreachable = "/tmp/" + std::string(300, 'x') + ".vst3";
    EXPECT_EQ(loadError({"vst3", unreachable, ""}).rfind("Couldn't load " + unreachable + ": ", 0), 0u);
}

TEST(LoadVst3, ChecksTheIdOnlyOnceTheModuleHasLoaded)
{
    std::string const path = testModule("recorder");
    for (std::string uid : {std::string(31, 'A'), std::string(33, 'A'), std::string()})
        EXPECT_EQ(loadError({"vst3", path, uid}), "That isn't a VST3 plugin's id: " + uid);

    std::string const notHex = "ghijklmnopqrstuvwxyzghijklmnopqr";
    EXPECT_EQ(loadError({"vst3", path, notHex}), "The plugin isn't in " + path + " any more.");
}

TEST(LoadVst3, ReadsIdsInEitherCaseAndNamesADuplicateIdAfterItsLastClass)
{
    PluginRef ref = refOf(testModule("recorder"), "Separate Controller");
    ref.uid = lowerCase(ref.uid);
    std::string error;
    auto plugin = loadPlugin(ref, error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->name(), "Separate Controller");

    EXPECT_EQ(loadClass(testModule("catalog"), "Twin A")->name(), "Twin B");
}

TEST(LoadVst3, ReportsClassesThatWontStartAndCleansUpAfterThem)
{
    struct Case {
        std::string className;
        std::string sentence;
        Calls calls;
    };
    Case const cases[] = {
        {"Not Creatable", "Not Creatable wouldn't start.", {"module.exit"}},
        {"Component Init Fails", "Component Init Fails wouldn't start.",
         {"component.initialize", "component.destroyed", "module.exit"}},
        {"No Processor", "No Processor doesn't process audio.",
         {"component.initialize", "component.terminate", "component.destroyed", "module.exit"}},
    };
    for (Case const& c : cases) {
        PluginRef const ref = refOf(testModule("recorder"), c.className);
        takeCalls();
        EXPECT_EQ(loadError(ref), c.sentence);
        EXPECT_EQ(takeCalls(), c.calls) << c.className;
    }
}

TEST(LoadVst3, ConnectsASeparateControllerAndTakesItApartInOrder)
{
    int edits = 0;
    Calls loading;
    auto plugin = loadRecorder("Separate Controller", &loading);
    ASSERT_TRUE(plugin);
    EXPECT_EQ(loading, (Calls{"component.initialize", "controller.initialize",
                                  "controller.setComponentHandler set", "component.connect", "controller.connect",
                                  "component.getState", "controller.setComponentState component state"}));

    plugin->onEdited = [&] { recorder().calls.push_back("host.onEdited " + std::to_string(++edits)); };
    ASSERT_TRUE(plugin->prepare(48000, 512));
    takeCalls();
    plugin.reset();
    EXPECT_EQ(takeCalls(),
              (Calls{"host.onEdited 1", "processor.setProcessing 0", "component.setActive 0", "component.disconnect",
                     "controller.disconnect", "controller.setComponentHandler null", "controller.terminate",
                     "component.terminate", "controller.destroyed", "component.destroyed", "module.exit"}));
}

TEST(LoadVst3, TerminatesASingleComponentOnceAndConnectsNothing)
{
    Calls loading;
    auto plugin = loadRecorder("Single Component", &loading);
    ASSERT_TRUE(plugin);
    EXPECT_EQ(loading, (Calls{"component.initialize", "single.setComponentHandler set", "component.getState",
                                  "single.setComponentState component state"}));
    plugin.reset();
    EXPECT_EQ(takeCalls(), (Calls{"single.setComponentHandler null", "component.terminate", "component.destroyed",
                                  "module.exit"}));
}

TEST(LoadVst3, LoadsWithoutAControllerThatWontInitialise)
{
    Calls loading;
    auto plugin = loadRecorder("Controller Init Fails", &loading);
    ASSERT_TRUE(plugin);
    EXPECT_EQ(loading, (Calls{"component.initialize", "controller.initialize", "controller.destroyed"}));
    EXPECT_EQ(callHandler(HandlerCall::endEdit), Steinberg::kNotInitialized);  // no handler was given out
    plugin.reset();
    EXPECT_EQ(takeCalls(), (Calls{"component.terminate", "component.destroyed", "module.exit"}));
}

TEST(LoadVst3, GivesEveryPlugInTheSameHostContext)
{
    auto first = loadRecorder("No Controller");
    Steinberg::FUnknown* const context = recorder().hostContext;
    auto second = loadRecorder("Separate Controller");
    EXPECT_EQ(recorder().hostContext, context);
    Steinberg::FUnknownPtr<Steinberg::Vst::IHostApplication> application(context);
    EXPECT_TRUE(application);
}

TEST(LoadVst3, LoadingTheSameModuleOverAndOverLeaksNothing)
{
    PluginRef const ref = refOf(testModule("passthrough"), "Pass Through");
    std::string error;
    loadPlugin(ref, error);  // first-use allocations of the process happen here
    long const files = openFiles();
    long const resident = residentKiB();
    for (int i = 0; i < 1000; ++i) {
        auto plugin = loadPlugin(ref, error);
        ASSERT_TRUE(plugin) << error;
        plugin->prepare(48000, 512);
    }
    EXPECT_EQ(openFiles(), files);
    EXPECT_FALSE(mapped("passthrough.so"));
    if (!sanitized) {
        EXPECT_LT(residentKiB() - resident, 2048);
    }
}
