// Locations, loading by class name and access to the recorder module for the plug-in tests.
#include "plugin_fixture.h"

#include "plugin/vst3.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

std::unique_ptr<Plugin> load(PluginRef const& ref)
{
    std::string error;
    auto plugin = loadPlugin(ref, error);
    if (!plugin)
        ADD_FAILURE() << error;
    return plugin;
}

void* recorderSymbol(char const* name)
{
    static void* library = [] {
        std::string const path = testModule("recorder") + "/Contents/x86_64-linux/recorder.so";
        void* handle = dlopen(path.c_str(), RTLD_NOW);
        if (!handle)
            throw std::runtime_error(dlerror());
        return handle;
    }();
    return dlsym(library, name);
}

}  // namespace

std::string testModule(std::string const& name)
{
    return std::string(RACKHOST_TEST_MODULES) + "/" + name + ".vst3";
}

std::string sdkExample(std::string const& name)
{
    return std::string(SDK_EXAMPLE_MODULES) + "/" + name + ".vst3";
}

PluginRef refOf(std::string const& bundle, std::string const& className)
{
    std::string error;
    for (PluginInfo const& info : scanVst3(bundle, error))
        if (className.empty() || info.name == className)
            return {info.format, info.path, info.uid};
    ADD_FAILURE() << "no class " << className << " in " << bundle << " " << error;
    return {"vst3", bundle, std::string(32, '0')};
}

std::unique_ptr<Plugin> loadClass(std::string const& bundle, std::string const& className)
{
    return load(refOf(bundle, className));
}

std::unique_ptr<Plugin> loadRecorder(std::string const& className, Calls* loadCalls)
{
    PluginRef const ref = refOf(testModule("recorder"), className);
    takeCalls();  // the scan's
    auto plugin = load(ref);
    if (loadCalls)
        *loadCalls = recorder().calls;
    takeCalls();
    return plugin;
}

RecorderProbe& recorder()
{
    static auto* probe = reinterpret_cast<RecorderProbeFunction>(recorderSymbol("recorderProbe"))();
    return *probe;
}

Calls takeCalls()
{
    Calls calls;
    calls.swap(recorder().calls);
    return calls;
}

void note(std::string call)
{
    recorder().calls.push_back(std::move(call));
}

std::vector<Point> lastBlockPoints()
{
    RecorderProbe const& probe = recorder();
    std::vector<Point> points;
    for (std::size_t i = 0; i < probe.lastBlock.pointCount; ++i) {
        ReceivedPoint const& point = probe.points[probe.lastBlock.firstPoint + i];
        EXPECT_EQ(point.sampleOffset, 0);
        points.push_back({point.paramId, point.value});
    }
    return points;
}

Steinberg::tresult callHandler(HandlerCall call, unsigned int paramId, double value)
{
    static auto* function = reinterpret_cast<RecorderCallFunction>(recorderSymbol("recorderCallHandler"));
    return function(call, paramId, value);
}
