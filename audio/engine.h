// The audio device front end of one Rack: one full-duplex device opened by name, feeding the rack.
// All operations run on the control thread; the library's callbacks live in Engine::Impl.
#pragma once

#include "audio/rack.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct DeviceInfo {
    std::string name;
    int channels = 0;
};

struct DeviceLists {
    std::vector<DeviceInfo> inputs;
    std::vector<DeviceInfo> outputs;
};

class Engine {
public:
    explicit Engine(Rack& rack);
    ~Engine();
    Engine(Engine const&) = delete;
    Engine& operator=(Engine const&) = delete;

    // Opens the named devices (empty: the system default) unless they are open already.
    // `changed` tells whether the device was (or was to be) opened anew; on false `error` holds a sentence.
    bool open(std::string const& input, int channel, std::string const& output, bool& changed,
              std::string& error);
    bool play(std::string& error);
    void stop();
    bool running() const;
    // Which opening of a device is the current one: every open that opens anew starts another.
    std::uint64_t opening() const;
    double sampleRate() const;
    DeviceLists devices();
    // Call every few tens of milliseconds: a device that stopped on its own, and a started device whose
    // callback has stopped running (as when the sound server dies, which the library doesn't notice), are
    // reported through `onStopped`.
    void watch();

    // Set before any device opens; called from `watch`, on the control thread, with a sentence and the opening
    // of the device (see `opening`) when it stops on its own.
    std::function<void(std::string const& reason, std::uint64_t opening)> onStopped;

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};
