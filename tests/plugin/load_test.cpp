// Loading a plug-in by its description, why a load fails, and how a plug-in is taken apart.
#include "plugin/vst3.h"
#include "plugin_fixture.h"
#include "tests/support/sanitized.h"

#include <pluginterfaces/vst/ivsthostapplication.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace {

#ifdef RACKHOST_SANITIZER_ALLOCATOR
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

std::string loadError(PluginRef const& ref)
{
    std::string error = "earlier text";
    EXPECT_EQ(loadPlugin(ref, error), nullptr);
    return error;
}

// The first line of /proc/self/`file` holding `text`, or "" when there is none.
std::string procLine(std::string const& file, std::string const& text)
{
    std::ifstream lines("/proc/self/" + file);
    std::string line;
    while (std::getline(lines, line))
        if (line.find(text) != std::string::npos)
            return line;
    return "";
}

long openFiles()
{
    auto const entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(entries), end(entries));
}

std::string newFolder()
{
    char pattern[] = "/tmp/rackhost-module-XXXXXX";
    return mkdtemp(pattern);
}

// A bundle "broken.vst3" in a folder of its own, removed with it; its library is left to the test.
struct BrokenBundle {
    BrokenBundle() { std::filesystem::create_directories(std::filesystem::path(library).parent_path()); }
    ~BrokenBundle() { std::filesystem::remove_all(folder); }

    std::string const folder = newFolder();
    std::string const path = folder + "/broken.vst3";
    std::string const library = path + "/Contents/x86_64-linux/broken.so";
};

}  // namespace

TEST(LoadPlugin, ExplainsEveryLoadThatFailsAndUndoesWhatItBegan)
{
    std::string const recorderPath = testModule("recorder");
    struct Case {
        PluginRef ref;
        std::string sentence;
        Calls calls;  // of the recorder, whose classes are taken apart as far as they were built
    };
    Case const cases[] = {
        {{"VST3", recorderPath, ""}, "This system can't load VST3 plugins.", {}},
        {{"", recorderPath, ""}, "This system can't load  plugins.", {}},
        {{"vst3", "/no/such.vst3", "short"}, "Couldn't load /no/such.vst3: /no/such.vst3 is not a module directory.", {}},
        // The id is checked only once the module has loaded.
        {{"vst3", recorderPath, std::string(31, 'A')}, "That isn't a VST3 plugin's id: " + std::string(31, 'A'),
         {"module.exit"}},
        {{"vst3", recorderPath, std::string(33, 'A')}, "That isn't a VST3 plugin's id: " + std::string(33, 'A'),
         {"module.exit"}},
        {{"vst3", recorderPath, "ghijklmnopqrstuvwxyzghijklmnopqr"}, "The plugin isn't in " + recorderPath + " any more.",
         {"module.exit"}},
        {refOf(recorderPath, "Not Creatable"), "Not Creatable wouldn't start.", {"module.exit"}},
        {refOf(recorderPath, "Component Init Fails"), "Component Init Fails wouldn't start.",
         {"component.initialize", "component.destroyed", "module.exit"}},
        {refOf(recorderPath, "No Processor"), "No Processor doesn't process audio.",
         {"component.initialize", "component.terminate", "component.destroyed", "module.exit"}},
    };
    for (Case const& c : cases) {
        takeCalls();
        EXPECT_EQ(loadError(c.ref), c.sentence);
        EXPECT_EQ(takeCalls(), c.calls) << c.sentence;
    }
    // A path the loader can't even look at still gives its reason, not an exception.
    std::string const unreachable = "/tmp/" + std::string(300, 'x') + ".vst3";
    EXPECT_EQ(loadError({"vst3", unreachable, ""}).rfind("Couldn't load " + unreachable + ": ", 0), 0u);
}

TEST(LoadPlugin, AModuleFileCutShortOrNotARegularFileIsRefusedBeforeTheLoaderMapsIt)
{
    std::string const whole = testModule("passthrough") + "/Contents/x86_64-linux/passthrough.so";
    auto const refused = [](BrokenBundle const& bundle, std::string const& reason) {
        EXPECT_EQ(loadError({"vst3", bundle.path, ""}), "Couldn't load " + bundle.path + ": " + bundle.library + reason);
        std::string error;
        EXPECT_TRUE(scanVst3(bundle.path, error).empty());
        EXPECT_EQ(error, bundle.library + reason);
    };
    // Within the ELF headers, and within the loadable segments.
    for (std::uintmax_t const size : {1000, 100000}) {
        BrokenBundle bundle;
        std::filesystem::copy_file(whole, bundle.library);
        std::filesystem::resize_file(bundle.library, size);
        refused(bundle, " is cut short.");
    }
    BrokenBundle fifo;
    ASSERT_EQ(mkfifo(fifo.library.c_str(), 0600), 0);
    refused(fifo, " is not a regular file.");
}

TEST(LoadVst3, WiresTheControllerItFindsAndTakesEverythingApartInOrder)
{
    struct Case {
        std::string className;
        Calls loading;
        Calls teardown;
    };
    Calls const separateTeardown = {"host.onEdited", "processor.setProcessing 0", "component.setActive 0",
                                    "component.disconnect", "controller.disconnect",
                                    "controller.setComponentHandler null", "controller.terminate",
                                    "component.terminate", "controller.destroyed", "component.destroyed",
                                    "module.exit"};
    std::string const calledInterfaces = ".isPlugInterfaceSupported IComponent IAudioProcessor IEditController "
                                         "IConnectionPoint IPlugView";
    Case const cases[] = {
        {"Separate Controller",
         {"component.initialize", "controller.initialize", "controller.setComponentHandler set", "component.connect",
          "controller.connect", "component.getState", "controller.setComponentState component state"},
         separateTeardown},
        // Asks the host context which interfaces it calls, and holds its connection points apart: each must be
        // let go before its owner is terminated.
        {"Checks Host",
         {"component.initialize", "component" + calledInterfaces, "controller.initialize",
          "controller" + calledInterfaces, "controller.setComponentHandler set", "component.connect",
          "controller.connect", "component.getState", "controller.setComponentState component state"},
         separateTeardown},
        {"Single Component",  // terminated once, connected to nothing
         {"component.initialize", "single.setComponentHandler set", "component.getState",
          "single.setComponentState component state"},
         {"host.onEdited", "processor.setProcessing 0", "component.setActive 0", "single.setComponentHandler null",
          "component.terminate", "component.destroyed", "module.exit"}},
        {"Controller Init Fails",  // plays on without a controller
         {"component.initialize", "controller.initialize", "controller.destroyed"},
         {"host.onEdited", "processor.setProcessing 0", "component.setActive 0", "component.terminate",
          "component.destroyed", "module.exit"}},
    };
    for (Case const& c : cases) {
        auto other = loadRecorder("No Controller");  // alive alongside, to share the one host context
        Steinberg::FUnknown* const context = recorder().hostContext;
        EXPECT_TRUE(Steinberg::FUnknownPtr<Steinberg::Vst::IHostApplication>(context));
        Calls loading;
        auto plugin = loadRecorder(c.className, &loading);
        ASSERT_TRUE(plugin);
        EXPECT_EQ(loading, c.loading) << c.className;
        EXPECT_EQ(recorder().hostContext, context) << c.className;
        other.reset();
        plugin->onEdited = [] { note("host.onEdited"); };
        ASSERT_TRUE(plugin->prepare(48000, 512));
        takeCalls();
        plugin.reset();
        EXPECT_EQ(takeCalls(), c.teardown) << c.className;
    }
}

TEST(LoadVst3, LoadingTheSameModuleOverAndOverLeaksNothing)
{
    PluginRef const ref = refOf(testModule("passthrough"), "Pass Through");
    std::string error;
    loadPlugin(ref, error);  // first-use allocations of the process happen here
    long const files = openFiles();
    long const resident = std::stol(procLine("status", "VmRSS:").substr(6));
    for (int i = 0; i < 1000; ++i) {
        auto plugin = loadPlugin(ref, error);
        ASSERT_TRUE(plugin) << error;
        plugin->prepare(48000, 512);
    }
    EXPECT_EQ(openFiles(), files);
    EXPECT_EQ(procLine("maps", "passthrough.so"), "");
    if (!sanitized) {
        EXPECT_LT(std::stol(procLine("status", "VmRSS:").substr(6)) - resident, 2048);
    }
}
