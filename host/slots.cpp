// Slot loading: turns the "slots" of a "play" or "load" command into the list the rack plays, reusing
// running plug-ins where nothing changed and loading the rest, all or nothing.
#include "host/host.h"

#include "host/protocol.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

using nlohmann::json;

namespace {

// The rate as the sentence shows it: cut toward zero, held within a 32-bit int.
std::string wholeHz(double rate)
{
    double const held = std::clamp(rate, double{std::numeric_limits<int>::min()},
                                   double{std::numeric_limits<int>::max()});
    return std::to_string(static_cast<int>(held));
}

// The "state" member when it is text; any other type counts as no state.
std::string const* stateTextOf(json const& entry)
{
    auto const member = entry.find("state");
    return member != entry.end() && member->is_string() ? member->get_ptr<std::string const*>() : nullptr;
}

}  // namespace

std::vector<Slot> Host::loadSlots(json const& message, double rate)
{
    json const noSlots = json::array();
    auto const member = message.find("slots");
    json const& slots = member != message.end() ? *member : noSlots;

    std::map<std::string, Loaded> table;
    std::vector<Slot> result;
    // Iterating a JSON value gives an array's elements, an object's values in key order, nothing for
    // null, and a lone text, number or boolean itself, which then fails as an entry that isn't an object.
    for (json const& entry : slots) {
        std::string const id = entry.value("id", std::string());
        auto const description = entry.find("plugin");
        PluginRef const ref = refFrom(description != entry.end() ? *description : json::object());
        std::string const* stateText = stateTextOf(entry);

        auto const running = loaded.find(id);
        bool const reused = running != loaded.end() && running->second.ref == ref && !stateText;
        Loaded fresh = reused ? Loaded{} : loadFresh(id, ref, stateText);
        // A reused plug-in is prepared through its own record, which so stays true however this call ends.
        Loaded& record = reused ? running->second : fresh;
        if (record.preparedRate != rate) {
            record.preparedRate = 0.0;  // a prepare that fails leaves the plug-in unprepared
            if (!record.plugin->prepare(rate, Rack::blockFrames))
                throw std::runtime_error(record.plugin->name() + " can't play at " + wholeHz(rate) + " Hz.");
            record.preparedRate = rate;
        }
        bool const bypass = entry.value("bypass", false);
        result.push_back(Slot{id, record.plugin, bypass});
        table.insert_or_assign(id, record);
    }

    // Plug-ins nothing else holds are destroyed here and report their slot ids through their hooks.
    loaded.clear();
    loaded = std::move(table);
    sendWindows();
    return result;
}

Host::Loaded Host::loadFresh(std::string const& id, PluginRef const& ref, std::string const* stateText)
{
    std::string error;
    std::shared_ptr<Plugin> plugin = loadPlugin(ref, error);
    if (!plugin)
        throw std::runtime_error(error);
    if (stateText) {
        std::vector<unsigned char> bytes;
        if (!unbase64(*stateText, bytes) || !plugin->setState(bytes))
            throw std::runtime_error("Couldn't put " + plugin->name() + " back as it was.");
    }
    plugin->onEdited = [this, id] { editedSlots.insert(id); };
    return {ref, std::move(plugin), 0.0};
}
