// The recorder test module: plug-ins that write down every call the host makes, one class per
// behaviour a host must cope with (see `behaviours` below).
#include "copy_through.h"
#include "recorder_probe.h"

#include <public.sdk/source/main/moduleinit.h>
#include <public.sdk/source/main/pluginfactory.h>
#include <public.sdk/source/vst/vstaudioeffect.h>
#include <public.sdk/source/vst/vsteditcontroller.h>
#include <pluginterfaces/base/funknownimpl.h>
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst/ivstpluginterfacesupport.h>
#include <pluginterfaces/vst/ivstunits.h>

#include <algorithm>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

RecorderProbe probe;
IPtr<IComponentHandler> currentHandler;

enum class Kind { effect, single, noProcessor, notCreatable };
enum class ViewKind { none, fixed, resizable, foreign, refusesAttach };

struct Behaviour {
    char const* name;
    Kind kind = Kind::effect;
    bool controller = true;  // a separate edit controller class
    bool componentInitFails = false;
    bool controllerInitFails = false;
    bool noInputBus = false;
    bool monoOutput = false;
    bool processFails = false;
    bool setupRefused = false;
    bool activationRefused = false;
    bool monoInputRefused = false;
    bool stateRefused = false;
    bool controllerRejectsState = false;
    ViewKind view = ViewKind::none;
    // Both sides ask the host context which interfaces it calls, and hand out connection points that are
    // objects of their own.
    bool checksHost = false;
};

Behaviour const behaviours[] = {
    {.name = "Single Component", .kind = Kind::single, .controller = false},
    {.name = "Separate Controller", .view = ViewKind::fixed},
    {.name = "No Controller", .controller = false},
    {.name = "Controller Init Fails", .controllerInitFails = true},
    {.name = "Component Init Fails", .componentInitFails = true},
    {.name = "No Processor", .kind = Kind::noProcessor, .controller = false},
    {.name = "Not Creatable", .kind = Kind::notCreatable, .controller = false},
    {.name = "No Input Bus", .noInputBus = true},
    {.name = "Mono Output", .monoOutput = true},
    {.name = "Process Fails", .processFails = true},
    {.name = "Setup Refused", .setupRefused = true},
    {.name = "Activation Refused", .activationRefused = true},
    {.name = "Mono Input Refused", .monoInputRefused = true},
    {.name = "State Refused", .stateRefused = true},
    {.name = "Controller Rejects State", .controllerRejectsState = true},
    {.name = "Resizable Editor", .view = ViewKind::resizable},
    {.name = "Foreign Editor", .view = ViewKind::foreign},
    {.name = "Editor Won't Attach", .view = ViewKind::refusesAttach},
    {.name = "Checks Host", .checksHost = true},
};

constexpr uint32 effectTag = 0x52454331;      // "REC1"
constexpr uint32 controllerTag = 0x52454332;  // "REC2"

int indexOf(Behaviour const& behaviour)
{
    return static_cast<int>(&behaviour - behaviours);
}

void note(std::string call)
{
    probe.calls.push_back(std::move(call));
}

std::string bytesOf(IBStream* stream)
{
    std::string bytes;
    char buffer[256];
    int32 read = 0;
    while (stream && stream->read(buffer, sizeof buffer, &read) == kResultOk && read > 0)
        bytes.append(buffer, static_cast<size_t>(read));
    return bytes;
}

tresult writeText(IBStream* stream, char const* text)
{
    return stream->write(const_cast<char*>(text), static_cast<int32>(std::strlen(text)), nullptr);
}

std::string arrangementText(SpeakerArrangement const* arrangements, int32 count)
{
    if (count == 0)
        return "none";
    if (arrangements[0] == SpeakerArr::kMono)
        return "mono";
    if (arrangements[0] == SpeakerArr::kStereo)
        return "stereo";
    return std::to_string(arrangements[0]);
}

std::string direction(BusDirection dir)
{
    return dir == kInput ? "input" : "output";
}

// Processing thread: no allocation, so counting allocations around processing sees only the host's.
void recordBlock(ProcessData const& data)
{
    ProcessedBlock& block = probe.lastBlock;
    block = ProcessedBlock{};
    if (data.numInputs > 0)
        block.inputChannels = data.inputs[0].numChannels;
    if (data.processContext)
        block.context = *data.processContext;
    block.firstPoint = probe.pointCount;
    IParameterChanges* changes = data.inputParameterChanges;
    for (int32 i = 0; changes && i < changes->getParameterCount(); ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        for (int32 p = 0; queue && p < queue->getPointCount(); ++p) {
            ReceivedPoint point{queue->getParameterId(), 0, 0};
            queue->getPoint(p, point.sampleOffset, point.value);
            if (probe.pointCount < probe.points.size())
                probe.points[probe.pointCount++] = point;
        }
    }
    block.pointCount = probe.pointCount - block.firstPoint;
}

// Every channel of output bus 0 holds `value`.
void fillOutputs(ProcessData& data, float value)
{
    for (int32 channel = 0; data.numOutputs > 0 && channel < data.outputs[0].numChannels; ++channel)
        std::fill_n(data.outputs[0].channelBuffers32[channel], data.numSamples, value);
}

// What the host context says it calls, as "<side>.isPlugInterfaceSupported" and the interfaces it says yes to
// among those asked; "unanswered" when the context doesn't offer the question.
std::string interfaceSupport(char const* side, FUnknown* context)
{
    std::string note = std::string(side) + ".isPlugInterfaceSupported";
    FUnknownPtr<IPlugInterfaceSupport> support(context);
    if (!support)
        return note + " unanswered";
    std::pair<char const*, FUID const&> const asked[] = {
        {"IComponent", IComponent::iid},       {"IAudioProcessor", IAudioProcessor::iid},
        {"IEditController", IEditController::iid}, {"IConnectionPoint", IConnectionPoint::iid},
        {"IPlugView", IPlugView::iid},         {"IEditController2", IEditController2::iid},
        {"IMidiMapping", IMidiMapping::iid},   {"IUnitInfo", IUnitInfo::iid},
    };
    for (auto const& [name, iid] : asked)
        if (support->isPlugInterfaceSupported(iid) == kResultTrue)
            note += std::string(" ") + name;
    return note;
}

// A connection point that is an object of its own, as one framework makes them: it passes every call on to
// its owner and lives on while anyone holds it.
class OwnConnectionPoint : public U::Implements<U::Directly<IConnectionPoint>> {
public:
    explicit OwnConnectionPoint(IConnectionPoint& owner) : owner(owner) {}

    tresult PLUGIN_API connect(IConnectionPoint* other) override { return owner.connect(other); }
    tresult PLUGIN_API disconnect(IConnectionPoint* other) override { return owner.disconnect(other); }
    tresult PLUGIN_API notify(IMessage* message) override { return owner.notify(message); }

    // Whether anyone besides its owner still holds it (release() answers the count that is left).
    bool heldElsewhere()
    {
        addRef();
        return release() > 1;
    }

private:
    IConnectionPoint& owner;
};

// "<side>.terminate", saying so when the host still holds the side's own connection point.
std::string terminateNote(char const* side, IPtr<OwnConnectionPoint> const& connection)
{
    std::string const call = std::string(side) + ".terminate";
    return connection && connection->heldElsewhere() ? call + " with its connection point still held" : call;
}

// Answers a request for the connection point with the own one, when there is one.
bool answeredWithOwn(IPtr<OwnConnectionPoint> const& connection, TUID const iid, void** obj)
{
    return connection && FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid) &&
           connection->queryInterface(iid, obj) == kResultOk;
}

// The factory's create function of a class built from its behaviour, answering as `Face`.
template <typename Class, typename Face>
FUnknown* create(void* behaviour)
{
    return static_cast<Face*>(new Class(*static_cast<Behaviour const*>(behaviour)));
}

class RecordingView : public U::Implements<U::Directly<IPlugView>> {
public:
    explicit RecordingView(ViewKind kind) : kind(kind) {}
    ~RecordingView() override { note("view.destroyed"); }

    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override
    {
        note(std::string("view.isPlatformTypeSupported ") + type);
        bool const x11 = std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0;
        return x11 && kind != ViewKind::foreign ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API attached(void* parent, FIDString type) override
    {
        note(std::string("view.attached ") + type);
        if (kind == ViewKind::refusesAttach)
            return kResultFalse;
        probe.attachedView = this;
        probe.attachedTo = parent;
        return kResultOk;
    }
    tresult PLUGIN_API removed() override
    {
        note("view.removed");
        probe.attachedView = nullptr;
        return kResultOk;
    }
    tresult PLUGIN_API onWheel(float) override { return kResultFalse; }
    tresult PLUGIN_API onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API onKeyUp(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API getSize(ViewRect* size) override
    {
        note("view.getSize");
        if (kind == ViewKind::resizable)
            return kResultFalse;
        *size = ViewRect{10, 20, 310, 220};
        return kResultOk;
    }
    tresult PLUGIN_API onSize(ViewRect* size) override
    {
        note("view.onSize " + std::to_string(size->getWidth()) + "x" + std::to_string(size->getHeight()));
        return kResultOk;
    }
    tresult PLUGIN_API onFocus(TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame(IPlugFrame* frame) override
    {
        note(std::string("view.setFrame ") + (frame ? "set" : "null"));
        probe.frame = frame;
        return kResultOk;
    }
    tresult PLUGIN_API canResize() override
    {
        note("view.canResize");
        return kind == ViewKind::resizable ? kResultTrue : kResultFalse;
    }
    // Never narrower or lower than 100.
    tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) override
    {
        note("view.checkSizeConstraint");
        rect->right = rect->left + std::max(rect->getWidth(), 100);
        rect->bottom = rect->top + std::max(rect->getHeight(), 100);
        return kResultOk;
    }

private:
    ViewKind kind;
};

class RecordingController : public EditController {
public:
    explicit RecordingController(Behaviour const& behaviour) : behaviour(behaviour)
    {
        if (behaviour.checksHost)
            connection = owned(new OwnConnectionPoint(*this));
    }
    ~RecordingController() override { note("controller.destroyed"); }

    tresult PLUGIN_API queryInterface(TUID const iid, void** obj) override
    {
        return answeredWithOwn(connection, iid, obj) ? kResultOk : EditController::queryInterface(iid, obj);
    }
    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        note("controller.initialize");
        probe.hostContext = context;
        if (behaviour.checksHost)
            note(interfaceSupport("controller", context));
        if (behaviour.controllerInitFails)
            return kResultFalse;
        tresult const result = EditController::initialize(context);
        parameters.addParameter(STR16("First"), nullptr, 0, 0.0, ParameterInfo::kCanAutomate, 0);
        parameters.addParameter(STR16("Second"), nullptr, 0, 0.0, ParameterInfo::kCanAutomate, 1);
        return result;
    }
    tresult PLUGIN_API terminate() override
    {
        note(terminateNote("controller", connection));
        return EditController::terminate();
    }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) override
    {
        note(std::string("controller.setComponentHandler ") + (handler ? "set" : "null"));
        probe.handler = handler;
        currentHandler = handler;
        return EditController::setComponentHandler(handler);
    }
    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        note("controller.setComponentState " + bytesOf(state));
        return behaviour.controllerRejectsState ? kResultFalse : kResultOk;
    }
    tresult PLUGIN_API setState(IBStream* state) override
    {
        note("controller.setState " + bytesOf(state));
        return behaviour.controllerRejectsState ? kResultFalse : kResultOk;
    }
    tresult PLUGIN_API getState(IBStream* state) override
    {
        note("controller.getState");
        return writeText(state, "controller state");
    }
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        note(std::string("controller.createView ") + name);
        if (behaviour.view == ViewKind::none)
            return nullptr;
        return new RecordingView(behaviour.view);
    }
    tresult PLUGIN_API connect(IConnectionPoint* other) override
    {
        note("controller.connect");
        return EditController::connect(other);
    }
    tresult PLUGIN_API disconnect(IConnectionPoint* other) override
    {
        note("controller.disconnect");
        return EditController::disconnect(other);
    }

private:
    Behaviour const& behaviour;
    IPtr<OwnConnectionPoint> connection;
};

class RecordingEffect : public AudioEffect {
public:
    explicit RecordingEffect(Behaviour const& behaviour) : behaviour(behaviour)
    {
        if (behaviour.controller)
            setControllerClass(FUID(controllerTag, 0, 0, static_cast<uint32>(indexOf(behaviour))));
        if (behaviour.checksHost)
            connection = owned(new OwnConnectionPoint(*this));
    }
    ~RecordingEffect() override { note("component.destroyed"); }

    tresult PLUGIN_API queryInterface(TUID const iid, void** obj) override
    {
        return answeredWithOwn(connection, iid, obj) ? kResultOk : AudioEffect::queryInterface(iid, obj);
    }
    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        note("component.initialize");
        probe.hostContext = context;
        if (behaviour.checksHost)
            note(interfaceSupport("component", context));
        if (behaviour.componentInitFails)
            return kResultFalse;
        tresult const result = AudioEffect::initialize(context);
        if (!behaviour.noInputBus)
            addAudioInput(STR16("Input"), behaviour.monoOutput ? SpeakerArr::kMono : SpeakerArr::kStereo);
        addAudioOutput(STR16("Output"), behaviour.monoOutput ? SpeakerArr::kMono : SpeakerArr::kStereo);
        return result;
    }
    tresult PLUGIN_API terminate() override
    {
        note(terminateNote("component", connection));
        return AudioEffect::terminate();
    }
    tresult PLUGIN_API setActive(TBool state) override
    {
        note("component.setActive " + std::to_string(state));
        return state && behaviour.activationRefused ? kResultFalse : kResultOk;
    }
    tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index, TBool state) override
    {
        if (type == kAudio)
            note("component.activateBus " + direction(dir) + " " + std::to_string(index) + " " + std::to_string(state));
        return AudioEffect::activateBus(type, dir, index, state);
    }
    tresult PLUGIN_API setState(IBStream* state) override
    {
        note("component.setState " + bytesOf(state));
        return behaviour.stateRefused ? kResultFalse : kResultOk;
    }
    tresult PLUGIN_API getState(IBStream* state) override
    {
        note("component.getState");
        return writeText(state, "component state");
    }
    tresult PLUGIN_API connect(IConnectionPoint* other) override
    {
        note("component.connect");
        return AudioEffect::connect(other);
    }
    tresult PLUGIN_API disconnect(IConnectionPoint* other) override
    {
        note("component.disconnect");
        return AudioEffect::disconnect(other);
    }

    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                          int32 numOuts) override
    {
        note("processor.setBusArrangements " + arrangementText(inputs, numIns) + " -> " +
             arrangementText(outputs, numOuts));
        if (behaviour.monoInputRefused && numIns > 0 && inputs[0] == SpeakerArr::kMono)
            return kResultFalse;
        if (behaviour.monoOutput)
            return kResultOk;  // stays mono in, mono out
        return AudioEffect::setBusArrangements(inputs, numIns, outputs, numOuts);
    }
    tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override
    {
        note("processor.setupProcessing " + std::to_string(static_cast<int>(setup.sampleRate)) + " " +
             std::to_string(setup.maxSamplesPerBlock));
        if (behaviour.setupRefused)
            return kResultFalse;
        return AudioEffect::setupProcessing(setup);
    }
    tresult PLUGIN_API setProcessing(TBool state) override
    {
        note("processor.setProcessing " + std::to_string(state));
        return kResultOk;
    }
    // Output is half the input, so it tells apart from the host passing the input through.
    tresult PLUGIN_API process(ProcessData& data) override
    {
        recordBlock(data);
        if (behaviour.processFails) {
            fillOutputs(data, 9.0f);
            return kResultFalse;
        }
        if (behaviour.noInputBus)
            fillOutputs(data, 0.25f);
        else
            copyThrough(data, 0.5f);
        return kResultOk;
    }

private:
    Behaviour const& behaviour;
    IPtr<OwnConnectionPoint> connection;
};

// A component that is its own edit controller.
class RecordingSingle : public RecordingEffect, public IEditController {
public:
    using RecordingEffect::RecordingEffect;

    OBJ_METHODS(RecordingSingle, RecordingEffect)
    DEF_INTERFACES_1(IEditController, RecordingEffect)
    REFCOUNT_METHODS(RecordingEffect)

    tresult PLUGIN_API initialize(FUnknown* context) override { return RecordingEffect::initialize(context); }
    tresult PLUGIN_API terminate() override { return RecordingEffect::terminate(); }
    // One object answers both sides' state calls.
    tresult PLUGIN_API setState(IBStream* state) override { return RecordingEffect::setState(state); }
    tresult PLUGIN_API getState(IBStream* state) override { return RecordingEffect::getState(state); }

    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        note("single.setComponentState " + bytesOf(state));
        return kResultOk;
    }
    int32 PLUGIN_API getParameterCount() override { return 1; }
    tresult PLUGIN_API getParameterInfo(int32 index, ParameterInfo& info) override
    {
        if (index != 0)
            return kInvalidArgument;
        info = ParameterInfo{};
        info.flags = ParameterInfo::kCanAutomate;
        return kResultOk;
    }
    tresult PLUGIN_API getParamStringByValue(ParamID, ParamValue, String128) override { return kResultFalse; }
    tresult PLUGIN_API getParamValueByString(ParamID, TChar*, ParamValue&) override { return kResultFalse; }
    ParamValue PLUGIN_API normalizedParamToPlain(ParamID, ParamValue value) override { return value; }
    ParamValue PLUGIN_API plainParamToNormalized(ParamID, ParamValue value) override { return value; }
    ParamValue PLUGIN_API getParamNormalized(ParamID) override { return 0; }
    tresult PLUGIN_API setParamNormalized(ParamID, ParamValue) override { return kResultOk; }
    tresult PLUGIN_API setComponentHandler(IComponentHandler* handler) override
    {
        note(std::string("single.setComponentHandler ") + (handler ? "set" : "null"));
        probe.handler = handler;
        currentHandler = handler;
        return kResultOk;
    }
    IPlugView* PLUGIN_API createView(FIDString name) override
    {
        note(std::string("single.createView ") + name);
        return nullptr;
    }
};

class RecordingComponent : public Component {
public:
    explicit RecordingComponent(Behaviour const&) {}
    ~RecordingComponent() override { note("component.destroyed"); }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        note("component.initialize");
        return Component::initialize(context);
    }
    tresult PLUGIN_API terminate() override
    {
        note("component.terminate");
        return Component::terminate();
    }
};

FUnknown* refuseToCreate(void*)
{
    return nullptr;
}

FUnknown* (*creatorOf(Kind kind))(void*)
{
    switch (kind) {
    case Kind::single:
        return create<RecordingSingle, IAudioProcessor>;
    case Kind::noProcessor:
        return create<RecordingComponent, IComponent>;
    case Kind::notCreatable:
        return refuseToCreate;
    case Kind::effect:
        break;
    }
    return create<RecordingEffect, IAudioProcessor>;
}

ModuleTerminator noteExit([] { note("module.exit"); });

}  // namespace

extern "C" {

SMTG_EXPORT_SYMBOL RecorderProbe* recorderProbe()
{
    return &probe;
}

SMTG_EXPORT_SYMBOL tresult recorderCallHandler(HandlerCall call, unsigned int paramId, double value)
{
    if (!currentHandler)
        return kNotInitialized;
    FUnknownPtr<IComponentHandler2> handler2(currentHandler);
    switch (call) {
    case HandlerCall::beginEdit:
        return currentHandler->beginEdit(paramId);
    case HandlerCall::performEdit:
        return currentHandler->performEdit(paramId, value);
    case HandlerCall::endEdit:
        return currentHandler->endEdit(paramId);
    case HandlerCall::restartComponent:
        return currentHandler->restartComponent(static_cast<int32>(paramId));
    case HandlerCall::setDirty:
        return handler2 ? handler2->setDirty(value != 0) : kNoInterface;
    case HandlerCall::requestOpenEditor:
        return handler2 ? handler2->requestOpenEditor(ViewType::kEditor) : kNoInterface;
    case HandlerCall::startGroupEdit:
        return handler2 ? handler2->startGroupEdit() : kNoInterface;
    case HandlerCall::finishGroupEdit:
        return handler2 ? handler2->finishGroupEdit() : kNoInterface;
    }
    return kInvalidArgument;
}

SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
    if (gPluginFactory) {
        gPluginFactory->addRef();
        return gPluginFactory;
    }
    static PFactoryInfo const info("rackhost tests", "", "", PFactoryInfo::kNoFlags);
    gPluginFactory = new CPluginFactory(info);
    for (Behaviour const& behaviour : behaviours) {
        auto* context = const_cast<Behaviour*>(&behaviour);
        auto const index = static_cast<uint32>(indexOf(behaviour));
        PClassInfo2 const effect(FUID(effectTag, 0, 0, index).toTUID(), PClassInfo::kManyInstances,
                                 kVstAudioEffectClass, behaviour.name, 0, "Fx", nullptr, "1.0", kVstVersionString);
        gPluginFactory->registerClass(&effect, creatorOf(behaviour.kind), context);
        if (!behaviour.controller)
            continue;
        PClassInfo2 const controller(FUID(controllerTag, 0, 0, index).toTUID(), PClassInfo::kManyInstances,
                                     kVstComponentControllerClass, behaviour.name, 0, "", nullptr, "1.0",
                                     kVstVersionString);
        gPluginFactory->registerClass(&controller, create<RecordingController, IEditController>, context);
    }
    return gPluginFactory;
}

}  // extern "C"
