// Shared plumbing of the plug-in hosting tests: where the modules are, loading a class by name,
// the recorder module's log and hooks, and stereo blocks to process.
#pragma once

#include "modules/recorder_probe.h"
#include "plugin/plugin.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

using Calls = std::vector<std::string>;

std::string testModule(std::string const& name);  // a bundle built in the test tree
std::string sdkExample(std::string const& name);  // one of the SDK's example plug-ins

// The class called `className` in `bundle` (its first class when empty), as a scan describes it.
PluginRef refOf(std::string const& bundle, std::string const& className = "");
// Loads it; a failure fails the test and returns an empty owner.
std::unique_ptr<Plugin> loadClass(std::string const& bundle, std::string const& className = "");
// A recorder class; the log is left empty, and the calls of loading go to `loadCalls` when given.
std::unique_ptr<Plugin> loadRecorder(std::string const& className, Calls* loadCalls = nullptr);

// The recorder module stays loaded from the first call on, so its log outlives every plug-in.
RecorderProbe& recorder();
Calls takeCalls();  // the log so far, which is then cleared
void note(std::string call);  // adds a call of the host side to the log
using Point = std::pair<unsigned int, double>;  // parameter id and value
// The parameter points the processor got in its last block, each checked to be at sample offset 0.
std::vector<Point> lastBlockPoints();
Steinberg::tresult callHandler(HandlerCall call, unsigned int paramId = 0, double value = 0);

// Two input and two output channels of 512 frames.
struct StereoBlock {
    std::vector<float> left = std::vector<float>(512, 0.5f);
    std::vector<float> right = std::vector<float>(512, -0.25f);
    std::vector<float> outLeft = std::vector<float>(512, 0.0f);
    std::vector<float> outRight = std::vector<float>(512, 0.0f);
    float const* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};

    void run(Plugin& plugin, int frames = 512) { plugin.process(inputs, outputs, frames); }
};
