// A small plug-in for the rack and engine tests: does one plain thing to the signal and records the
// blocks it saw, and when and on which thread it was destroyed.
#pragma once

#include "plugin/plugin.h"

#include <atomic>
#include <thread>

// Destructions of the plug-ins that share one record; `misplaced` once one was destroyed on another
// thread than `controlThread` or in the middle of process().
struct Destructions {
    std::atomic<int> count{0};
    std::atomic<bool> misplaced{false};
    std::thread::id controlThread = std::this_thread::get_id();
};

// Writes input × scale + offset to both outputs.
class TestPlugin : public Plugin {
public:
    explicit TestPlugin(float scale = 1.0f, float offset = 0.0f, Destructions* destructions = nullptr);
    ~TestPlugin() override;

    std::string const& name() const override { return pluginName; }
    bool prepare(double, int) override { return true; }
    // Audio thread: no lock, no allocation.
    void process(float const* const* inputs, float* const* outputs, int frames) override;
    std::vector<unsigned char> state() override { return {}; }
    bool setState(std::vector<unsigned char> const&) override { return true; }
    bool openEditor(std::string&) override { return false; }
    void closeEditor() override {}
    bool editorOpen() const override { return false; }

    std::atomic<int> blocks{0};
    std::atomic<long> frames{0};
    std::atomic<int> largestBlock{0};
    std::atomic<int> smallestBlock{1 << 30};

private:
    float scale;
    float offset;
    Destructions* destructions;
    std::atomic<bool> processing{false};
    std::string pluginName = "Test plug-in";
};
