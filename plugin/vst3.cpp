// The VST 3 implementation of Plugin: one class of one module, with its component, processor and
// edit controller, the block processing bridge, the state blob and the editor window.
#include "plugin/vst3.h"

#include "plugin/component_handler.h"
#include "plugin/edit_ring.h"
#include "plugin/host_context.h"
#include "plugin/module.h"
#include "plugin/plug_frame.h"
#include "plugin/state_blob.h"
#include "plugin/window.h"

#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/eventlist.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>
#include <public.sdk/source/vst/hosting/parameterchanges.h>
#include <public.sdk/source/vst/hosting/processdata.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// A uid of 32 characters as the 16 class-id bytes: each pair of characters read as "%2x", with
// a pair that doesn't convert giving 0.
VST3::UID classIdOf(std::string const& uid)
{
    TUID bytes{};
    for (int i = 0; i < 16; ++i) {
        char const pair[3] = {uid[2 * i], uid[2 * i + 1], '\0'};
        unsigned int value = 0;
        std::sscanf(pair, "%2x", &value);
        bytes[i] = static_cast<char>(value & 0xFF);
    }
    return VST3::UID::fromTUID(bytes);
}

// A stream to restore from, holding its own copy of the bytes: a plug-in that writes into it then
// grows that copy, where a stream over borrowed memory would write past its end.
IPtr<MemoryStream> readStream(std::vector<unsigned char> const& bytes)
{
    auto stream = owned(new MemoryStream);
    stream->setSize(static_cast<TSize>(bytes.size()));
    if (!bytes.empty() && stream->getData())
        std::memcpy(stream->getData(), bytes.data(), bytes.size());
    return stream;
}

constexpr uint32 playingState =
    ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kTimeSigValid;

class Vst3Plugin final : public Plugin {
public:
    ~Vst3Plugin() override;

    // Called once, on a fresh object; false with a sentence in `error` when the class won't load.
    bool load(PluginRef const& ref, std::string& error);

    std::string const& name() const override { return name_; }
    bool prepare(double sampleRate, int maxFrames) override;
    void process(float const* const* inputs, float* const* outputs, int frames) override;
    std::vector<unsigned char> state() override;
    bool setState(std::vector<unsigned char> const& bytes) override;
    bool openEditor(std::string& error) override;
    void closeEditor() override;
    bool editorOpen() const override { return window != nullptr; }

private:
    bool findController();
    void connectController();
    void stopProcessing();
    IPtr<MemoryStream> componentState();
    bool savesExactly(std::vector<unsigned char> const& bytes);
    void arrangeBuses();
    void copyInput(float const* const* inputs, int frames);
    void copyOutput(bool processed, float const* const* inputs, float* const* outputs, int frames);
    void resizeToView(IPlugView* asking, ViewRect* newSize);
    void resizeToWindow(int& width, int& height);

    VST3::Hosting::Module::Ptr module;
    std::string name_;
    IPtr<IComponent> component;
    IPtr<IAudioProcessor> processor;
    IPtr<IEditController> controller;
    IPtr<IConnectionPoint> componentConnection;
    IPtr<IConnectionPoint> controllerConnection;
    bool separateController = false;
    bool active = false;
    bool processing = false;
    ComponentHandler handler;
    PlugFrame frame;
    IPtr<IPlugView> view;
    std::unique_ptr<Window> window;
    HostProcessData processData;
    ParameterChanges inputChanges{0};
    ParameterChanges outputChanges{0};
    EventList events{50};
    ProcessContext context{};
    double position = 0;
    EditRing edits;
};

bool Vst3Plugin::load(PluginRef const& ref, std::string& error)
{
    std::string loaderText;
    module = openModule(ref.path, loaderText);
    if (!module) {
        error = "Couldn't load " + ref.path + (loaderText.empty() ? "" : ": " + loaderText);
        return false;
    }
    if (ref.uid.size() != 32) {
        error = "That isn't a VST3 plugin's id: " + ref.uid;
        return false;
    }
    VST3::UID const id = classIdOf(ref.uid);
    auto const& factory = module->getFactory();
    for (auto const& info : factory.classInfos())
        if (info.ID() == id)
            name_ = info.name();  // the last class with this id names the plug-in
    if (name_.empty()) {
        error = "The plugin isn't in " + ref.path + " any more.";
        return false;
    }

    component = factory.createInstance<IComponent>(id);
    if (!component) {
        error = name_ + " wouldn't start.";
        return false;
    }
    if (component->initialize(&hostApplication()) != kResultOk) {
        component = nullptr;  // never initialised, so never terminated
        error = name_ + " wouldn't start.";
        return false;
    }
    processor = U::cast<IAudioProcessor>(component);
    if (!processor) {
        error = name_ + " doesn't process audio.";
        return false;
    }
    if (findController())
        connectController();
    return true;
}

// The component's own edit controller, or else a separate one; a plug-in without one still plays.
bool Vst3Plugin::findController()
{
    controller = U::cast<IEditController>(component);
    if (controller)
        return true;
    TUID controllerId{};
    if (component->getControllerClassId(controllerId) != kResultOk)
        return false;
    controller = module->getFactory().createInstance<IEditController>(VST3::UID::fromTUID(controllerId));
    if (!controller)
        return false;
    if (controller->initialize(&hostApplication()) != kResultOk) {
        controller = nullptr;
        return false;
    }
    separateController = true;
    return true;
}

void Vst3Plugin::connectController()
{
    handler.onEdit = [this](unsigned int paramId, double value) { edits.push({paramId, value}); };
    handler.onChanged = [this] {
        if (onEdited)
            onEdited();
    };
    controller->setComponentHandler(&handler);

    if (separateController) {
        componentConnection = U::cast<IConnectionPoint>(component);
        controllerConnection = U::cast<IConnectionPoint>(controller);
        if (componentConnection && controllerConnection) {
            componentConnection->connect(controllerConnection);
            controllerConnection->connect(componentConnection);
        }
    }

    auto stream = owned(new MemoryStream);
    if (component->getState(stream) == kResultOk) {
        stream->seek(0, IBStream::kIBSeekSet, nullptr);
        controller->setComponentState(stream);
    }
}

// Teardown: editor, processing, connections, controller, component; the module goes last, with
// the members declared first.
Vst3Plugin::~Vst3Plugin()
{
    closeEditor();
    stopProcessing();
    if (componentConnection && controllerConnection) {
        componentConnection->disconnect(controllerConnection);
        controllerConnection->disconnect(componentConnection);
    }
    // A connection point may be an object of its own, which its owner expects to be let go before it ends.
    componentConnection = nullptr;
    controllerConnection = nullptr;
    if (controller) {
        controller->setComponentHandler(nullptr);
        if (separateController)
            controller->terminate();
    }
    if (component)
        component->terminate();
    controller = nullptr;
    processor = nullptr;
    component = nullptr;
}

void Vst3Plugin::stopProcessing()
{
    if (processing) {
        processor->setProcessing(false);
        processing = false;
    }
    if (active) {
        component->setActive(false);
        processData.unprepare();
        active = false;
    }
}

bool Vst3Plugin::prepare(double sampleRate, int maxFrames)
{
    stopProcessing();
    arrangeBuses();
    ProcessSetup setup{kRealtime, kSample32, maxFrames, sampleRate};
    if (processor->setupProcessing(setup) != kResultOk)
        return false;
    if (component->setActive(true) != kResultOk)
        return false;
    active = true;

    processData.prepare(*component, maxFrames, kSample32);
    processData.inputParameterChanges = &inputChanges;
    processData.outputParameterChanges = &outputChanges;
    processData.inputEvents = &events;
    processData.processContext = &context;
    // Room for every parameter, so taking edits on the audio thread never allocates.
    inputChanges.setMaxParameters((controller ? controller->getParameterCount() : 0) + 16);
    outputChanges.setMaxParameters((controller ? controller->getParameterCount() : 0) + 16);

    context = {};
    context.state = playingState;
    context.sampleRate = sampleRate;
    context.tempo = 120.0;
    context.timeSigNumerator = 4;
    context.timeSigDenominator = 4;

    processor->setProcessing(true);
    processing = true;
    return true;
}

// Mono in and stereo out; stereo in when mono is refused; no input for a plug-in without one.
void Vst3Plugin::arrangeBuses()
{
    SpeakerArrangement mono = SpeakerArr::kMono;
    SpeakerArrangement stereoIn = SpeakerArr::kStereo;
    SpeakerArrangement stereoOut = SpeakerArr::kStereo;
    if (component->getBusCount(kAudio, kInput) > 0) {
        if (processor->setBusArrangements(&mono, 1, &stereoOut, 1) != kResultOk)
            processor->setBusArrangements(&stereoIn, 1, &stereoOut, 1);
        component->activateBus(kAudio, kInput, 0, true);
    } else {
        processor->setBusArrangements(nullptr, 0, &stereoOut, 1);
    }
    component->activateBus(kAudio, kOutput, 0, true);
}

// Audio thread.
void Vst3Plugin::process(float const* const* inputs, float* const* outputs, int frames)
{
    // A plug-in whose last prepare failed is inactive, and may not be processed: its input passes through.
    if (!active) {
        copyOutput(false, inputs, outputs, frames);
        return;
    }
    edits.drain([this](ParamEdit const& edit) {
        int32 index = 0;
        if (IParamValueQueue* queue = inputChanges.addParameterData(edit.paramId, index))
            queue->addPoint(0, edit.value, index);
    });
    processData.numSamples = frames;
    copyInput(inputs, frames);

    context.projectTimeSamples = static_cast<TSamples>(position);
    context.continousTimeSamples = static_cast<TSamples>(position);
    context.projectTimeMusic = position / context.sampleRate * 2.0;  // quarter notes at 120 bpm

    bool const processed = processor->process(processData) == kResultOk;
    copyOutput(processed, inputs, outputs, frames);
    inputChanges.clearQueue();
    outputChanges.clearQueue();
    position += frames;
}

// Audio thread.
void Vst3Plugin::copyInput(float const* const* inputs, int frames)
{
    for (int32 bus = 0; bus < processData.numInputs; ++bus) {
        AudioBusBuffers const& buffers = processData.inputs[bus];
        for (int32 channel = 0; channel < buffers.numChannels; ++channel) {
            float* to = buffers.channelBuffers32[channel];
            if (bus > 0)
                std::fill_n(to, frames, 0.0f);
            else
                std::copy_n(inputs[channel == 0 ? 0 : 1], frames, to);
        }
    }
}

// Audio thread. A failed block, or a plug-in without output, passes its input through.
void Vst3Plugin::copyOutput(bool processed, float const* const* inputs, float* const* outputs, int frames)
{
    if (processed && processData.numOutputs > 0 && processData.outputs[0].numChannels > 0) {
        AudioBusBuffers const& buffers = processData.outputs[0];
        std::copy_n(buffers.channelBuffers32[0], frames, outputs[0]);
        std::copy_n(buffers.channelBuffers32[buffers.numChannels > 1 ? 1 : 0], frames, outputs[1]);
    } else {
        std::copy_n(inputs[0], frames, outputs[0]);
        std::copy_n(inputs[1], frames, outputs[1]);
    }
}

std::vector<unsigned char> Vst3Plugin::state()
{
    auto componentStream = componentState();
    auto controllerStream = owned(new MemoryStream);
    if (controller)
        controller->getState(controllerStream);
    return pack(*componentStream, *controllerStream);
}

IPtr<MemoryStream> Vst3Plugin::componentState()
{
    auto stream = owned(new MemoryStream);
    component->getState(stream);
    return stream;
}

bool Vst3Plugin::savesExactly(std::vector<unsigned char> const& bytes)
{
    auto const stream = componentState();
    auto const* saved = reinterpret_cast<unsigned char const*>(stream->getData());
    return std::equal(bytes.begin(), bytes.end(), saved, saved + stream->getSize());
}

bool Vst3Plugin::setState(std::vector<unsigned char> const& bytes)
{
    std::optional<StateChunks> chunks = unpack(bytes);
    if (!chunks)
        return false;
    auto componentStream = readStream(chunks->component);
    bool const taken = component->setState(componentStream) == kResultOk;
    // Some components refuse the very state they save (nothing, or a byte they can't read back): one that
    // saves exactly these bytes now already holds them.
    if (!taken && !savesExactly(chunks->component))
        return false;
    if (controller) {
        if (taken) {
            componentStream->seek(0, IBStream::kIBSeekSet, nullptr);
            controller->setComponentState(componentStream);
        }
        if (!chunks->controller.empty())
            controller->setState(readStream(chunks->controller));
    }
    return true;
}

bool Vst3Plugin::openEditor(std::string& error)
{
    if (window) {
        window->show();
        return true;
    }
    if (controller)
        view = owned(controller->createView(ViewType::kEditor));
    if (!view || view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) != kResultTrue) {
        view = nullptr;
        error = name_ + " has no window to open here.";
        return false;
    }
    // The view is asked its size only once a window can be made: some views crash without a display.
    if (canOpenWindows()) {
        ViewRect size;
        if (view->getSize(&size) != kResultOk)
            size = ViewRect{0, 0, 640, 400};
        bool const resizable = view->canResize() == kResultTrue;
        window = openWindow(name_, size.getWidth(), size.getHeight(), resizable);
    }
    if (!window) {
        view = nullptr;
        error = "Plugin windows can't be opened on this system yet.";
        return false;
    }

    frame.onResizeView = [this](IPlugView* asking, ViewRect* newSize) { resizeToView(asking, newSize); };
    window->onResize = [this](int& width, int& height) { resizeToWindow(width, height); };
    window->onClose = [this] { closeEditor(); };
    view->setFrame(&frame);
    if (view->attached(window->nativeHandle(), kPlatformTypeX11EmbedWindowID) == kResultOk) {
        window->show();
        return true;
    }
    view = nullptr;
    window.reset();
    error = name_ + "'s window wouldn't open.";
    return false;
}

// Also what happens when the user closes the window: the window, and the callable running this,
// are gone before the hook is called.
void Vst3Plugin::closeEditor()
{
    if (view) {
        view->removed();
        view->setFrame(nullptr);
        view = nullptr;
    }
    if (window) {
        window->onClose = nullptr;
        window->onResize = nullptr;
        window.reset();
    }
    if (onEdited)
        onEdited();
}

void Vst3Plugin::resizeToView(IPlugView* asking, ViewRect* newSize)
{
    if (!window || asking != view.get())
        return;
    window->resize(newSize->getWidth(), newSize->getHeight());
    view->onSize(newSize);
}

void Vst3Plugin::resizeToWindow(int& width, int& height)
{
    if (!view)
        return;
    ViewRect size{0, 0, width, height};
    view->checkSizeConstraint(&size);
    width = size.getWidth();
    height = size.getHeight();
    view->onSize(&size);
}

}  // namespace

std::unique_ptr<Plugin> loadVst3(PluginRef const& ref, std::string& error)
{
    auto plugin = std::make_unique<Vst3Plugin>();
    if (!plugin->load(ref, error))
        return nullptr;
    return plugin;
}
