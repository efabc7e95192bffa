// The command handler: reads the envelope of one command, runs it against the rack, the engine and the
// loaded plug-ins, and answers with one reply line.
#include "host/host.h"

#include "host/mainloop.h"
#include "host/protocol.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

using nlohmann::json;

namespace {

// The loudest level whose linear gain is still a finite float (20 log10 of the largest float is about
// 770.6): an infinite gain would turn silence into NaN samples on their way to the device.
constexpr double LOUDEST_DB = 770.0;

// A level in dB: any number or a boolean, else the library's type error. Held between the lowest float
// and LOUDEST_DB.
float levelIn(json const& command, char const* key, double fallback)
{
    double const dB = command.value(key, fallback);
    return static_cast<float>(std::clamp(dB, double{std::numeric_limits<float>::lowest()}, LOUDEST_DB));
}

// The input channel: a fraction is cut toward zero, values beyond a 32-bit int are held at its limits.
int channelIn(json const& command)
{
    double const channel = command.value("channel", 0.0);
    return static_cast<int>(std::clamp(channel, double{std::numeric_limits<int>::min()},
                                       double{std::numeric_limits<int>::max()}));
}

// A device name: the member's text when it is text, else the empty text (the default device).
std::string nameIn(json const& command, char const* key)
{
    auto const member = command.find(key);
    return member != command.end() && member->is_string() ? member->get<std::string>() : std::string();
}

}  // namespace

void Host::handle(json const& command)
{
    json id;
    try {
        if (command.is_object()) {
            auto const member = command.find("id");
            if (member != command.end())
                id = *member;
        }
        // On a value that isn't an object this raises the library's own text, with "id" left null.
        std::string const name = command.value("cmd", std::string());
        json const result = dispatch(name, command);
        send({{"id", id}, {"ok", true}, {"result", result}});
    } catch (std::exception const& failure) {
        send({{"error", failure.what()}, {"id", id}, {"ok", false}});
    }
}

json Host::dispatch(std::string const& name, json const& command)
{
    if (name == "devices")
        return devices();
    if (name == "play")
        play(command);
    else if (name == "stop")
        stop();
    else if (name == "load")
        load(command);
    else if (name == "editor")
        openEditor(command);
    else if (name == "hide")
        hideEditors(command);
    else if (name == "state")
        return state(command);
    else if (name == "quit")
        mainloop::quit();
    else
        throw std::runtime_error("Unknown command: " + name);
    return nullptr;
}

void Host::play(json const& command)
{
    float const volume = levelIn(command, "volume", 0.0);
    float const gate = levelIn(command, "gate", -96.0);
    float const gain = levelIn(command, "gain", 0.0);
    rack.setLevels(gain, gate, volume);

    std::string const output = nameIn(command, "output");
    int const channel = channelIn(command);
    std::string const input = nameIn(command, "input");
    bool changed = false;
    std::string error;
    if (!engine.open(input, channel, output, changed, error)) {
        publish({});
        throw std::runtime_error(error);
    }
    if (changed) {
        // A new device may run at another rate: no audio run may hold a plug-in that is prepared again.
        rack.setSlots({});
        rack.collect(true);
    }
    publish(loadSlots(command, engine.sampleRate()));
    if (!engine.play(error))
        throw std::runtime_error(error);
}

void Host::load(json const& command)
{
    double rate = 48000.0;
    if (engine.running()) {
        rate = engine.sampleRate();
    } else {
        // The rate of the first loaded plug-in that is prepared; one a failed call left unprepared tells none.
        auto const prepared =
            std::ranges::find_if(loaded, [](auto const& entry) { return entry.second.preparedRate != 0.0; });
        if (prepared != loaded.end())
            rate = prepared->second.preparedRate;
    }
    publish(loadSlots(command, rate));
}

void Host::publish(std::vector<Slot> slots)
{
    rack.setSlots(std::move(slots));
    collectRetired();
}

void Host::stop()
{
    engine.stop();
    rack.collect(true);
}

std::shared_ptr<Plugin> Host::pluginOf(json const& command)
{
    auto const found = loaded.find(command.value("slot", std::string()));
    if (found == loaded.end())
        throw std::runtime_error("That plugin isn't loaded.");
    return found->second.plugin;
}

void Host::openEditor(json const& command)
{
    std::string error;
    if (!pluginOf(command)->openEditor(error))
        throw std::runtime_error(error);
    sendWindows();
}

void Host::hideEditors(json const& command)
{
    std::string const id = command.value("slot", std::string());
    for (auto const& [slotId, slot] : loaded)
        if (id.empty() || id == slotId)
            slot.plugin->closeEditor();
    sendWindows();
}

std::string Host::state(json const& command)
{
    return base64(pluginOf(command)->state());
}
