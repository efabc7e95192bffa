// The object behind host mode: owns the rack, the engine and the loaded plug-ins, turns each command
// into rack and engine operations and writes the periodic reports. Main thread only, unless noted.
#pragma once

#include "audio/engine.h"
#include "audio/rack.h"
#include "plugin/plugin.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class Host {
public:
    // Builds the rack and the engine and registers the 33 ms and 400 ms reports with the main loop.
    Host();
    // Any thread, once the main loop runs no more: closes the device before releasing the plug-ins.
    ~Host();
    Host(Host const&) = delete;
    Host& operator=(Host const&) = delete;

    // Writes exactly one reply for any JSON value, after the events the command causes; never throws.
    void handle(nlohmann::json const& command);

    // The 400 ms report: one "edited" line per slot whose plug-in reported a change since the last one.
    void sendEdited();
    // One "editor" line per editor window that opened or closed since the last call.
    void sendWindows();

private:
    struct Loaded {
        PluginRef ref;
        std::shared_ptr<Plugin> plugin;
        double preparedRate = 0.0;  // the rate the plug-in is prepared at now; 0 while it isn't
    };

    nlohmann::json dispatch(std::string const& name, nlohmann::json const& command);
    void play(nlohmann::json const& command);
    void load(nlohmann::json const& command);
    void stop();
    void openEditor(nlohmann::json const& command);
    void hideEditors(nlohmann::json const& command);
    std::string state(nlohmann::json const& command);
    std::shared_ptr<Plugin> pluginOf(nlohmann::json const& command);

    // The slot list of a "play" or "load" command, every plug-in prepared at `rate`; replaces `loaded`
    // only when every entry succeeded, else raises the failure's sentence.
    std::vector<Slot> loadSlots(nlohmann::json const& message, double rate);
    Loaded loadFresh(std::string const& id, PluginRef const& ref, std::string const* stateText);
    nlohmann::json devices();

    // Publishes the list and frees at once what it replaced, as far as no audio run can still hold it, so a
    // burst of commands doesn't pile up replaced plug-ins until the next report.
    void publish(std::vector<Slot> slots);
    // Frees the retired slot lists no audio run can still hold: all of them while no device is open.
    void collectRetired();
    void reportLevels();
    void deviceStopped(std::string const& reason, std::uint64_t opening);

    Rack rack;
    Engine engine{rack};
    std::map<std::string, Loaded> loaded;
    std::set<std::string> editedSlots;
    std::set<std::string> shownEditors;
};
