// The host's life: building and tearing down the audio side, a device that stopped on its own, and the
// periodic reports (levels every 33 ms, edited states and editor windows every 400 ms).
#include "host/host.h"

#include "host/mainloop.h"
#include "host/protocol.h"

using nlohmann::json;

Host::Host()
{
    // The callbacks hold the plain address: tasks and timers (the engine reports a stop from the 33 ms one)
    // only run inside mainloop::run, which this object outlives.
    engine.onStopped = [this](std::string const& reason, std::uint64_t opening) {
        mainloop::post([this, reason, opening] { deviceStopped(reason, opening); });
    };
    mainloop::every(33, [this] { reportLevels(); });
    mainloop::every(400, [this] {
        sendEdited();
        sendWindows();
    });
}

Host::~Host()
{
    engine.stop();
    rack.setSlots({});
    rack.collect(true);
    // A plug-in's destructor calls its hook, which writes into editedSlots: that set must still exist.
    loaded.clear();
}

// Runs as a task on the main thread, posted when the 33 ms report found the device stopped. Commands handled
// since may have closed the device or opened another (even under the same names); then there is nothing to report.
void Host::deviceStopped(std::string const& reason, std::uint64_t opening)
{
    if (!engine.running() || opening != engine.opening())
        return;
    stop();
    send({{"event", "stopped"}, {"reason", reason}});
}

void Host::reportLevels()
{
    // A device gone quiet is reported like one that stopped on its own, through the same handler.
    engine.watch();
    collectRetired();
    if (!engine.running())
        return;
    Levels const levels = rack.takeLevels();
    send({{"event", "levels"}, {"input", levels.input}, {"output", levels.output}});
}

void Host::collectRetired()
{
    rack.collect(!engine.running());
}

void Host::sendEdited()
{
    for (std::string const& id : editedSlots) {
        auto const found = loaded.find(id);
        if (found != loaded.end())
            send({{"event", "edited"}, {"slot", id}, {"state", base64(found->second.plugin->state())}});
    }
    editedSlots.clear();
}

void Host::sendWindows()
{
    std::set<std::string> openNow;
    for (auto const& [id, slot] : loaded)
        if (slot.plugin->editorOpen())
            openNow.insert(id);
    for (std::string const& id : openNow)
        if (!shownEditors.contains(id))
            send({{"event", "editor"}, {"open", true}, {"slot", id}});
    for (std::string const& id : shownEditors)
        if (!openNow.contains(id))
            send({{"event", "editor"}, {"open", false}, {"slot", id}});
    shownEditors = std::move(openNow);
}

json Host::devices()
{
    DeviceLists const lists = engine.devices();
    json inputs = json::array();
    for (DeviceInfo const& device : lists.inputs)
        inputs.push_back(json{{"name", device.name}, {"channels", device.channels}});
    json outputs = json::array();
    for (DeviceInfo const& device : lists.outputs)
        outputs.push_back(json{{"name", device.name}});
    return {{"inputs", inputs}, {"outputs", outputs}};
}
