// The unruly test module: habits of real third-party plug-ins that a host must survive. Every load of
// the module prints to standard output, as one class also does whenever the host calls it.
#include "simple_effect.h"

#include <pluginterfaces/base/funknownimpl.h>
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/gui/iplugview.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// One line through each way a plug-in reaches standard output.
void chatter(char const* when)
{
    std::printf("unruly printf: %s\n", when);
    std::cout << "unruly cout: " << when << std::endl;
    std::string const raw = std::string("unruly write: ") + when + "\n";
    [[maybe_unused]] ssize_t written = ::write(1, raw.data(), raw.size());
}

// Writes through a null pointer, as a view that needs a display does without one.
void crash()
{
    int volatile* volatile nowhere = nullptr;
    *nowhere = 1;
}

// Supports X11 embedding, but can't be asked its size or resizability.
class CrashingView : public U::Implements<U::Directly<IPlugView>> {
public:
    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override
    {
        return std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API attached(void*, FIDString) override { return kResultOk; }
    tresult PLUGIN_API removed() override { return kResultOk; }
    tresult PLUGIN_API onWheel(float) override { return kResultFalse; }
    tresult PLUGIN_API onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API onKeyUp(char16, int16, int16) override { return kResultFalse; }
    tresult PLUGIN_API getSize(ViewRect*) override
    {
        crash();
        return kResultOk;
    }
    tresult PLUGIN_API onSize(ViewRect*) override { return kResultOk; }
    tresult PLUGIN_API onFocus(TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame(IPlugFrame*) override { return kResultOk; }
    tresult PLUGIN_API canResize() override
    {
        crash();
        return kResultFalse;
    }
    tresult PLUGIN_API checkSizeConstraint(ViewRect*) override { return kResultOk; }
};

// Its editor is a CrashingView.
class CrashingEditor : public StereoSingleComponent {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new CrashingEditor); }

    IPlugView* PLUGIN_API createView(FIDString) override { return new CrashingView; }
};

// Prints when it starts, on its first block and when asked for its editor, which it doesn't have.
class Chatty : public StereoSingleComponent {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new Chatty); }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        chatter("initialize");
        return StereoSingleComponent::initialize(context);
    }
    tresult PLUGIN_API process(ProcessData& data) override
    {
        if (!processed && data.numSamples > 0) {
            chatter("process");
            processed = true;
        }
        return StereoSingleComponent::process(data);
    }
    IPlugView* PLUGIN_API createView(FIDString) override
    {
        chatter("createView");
        return nullptr;
    }

private:
    bool processed = false;
};

// Saves `saved` zero bytes and refuses a state it can't read one byte more of, so it never takes back what
// it saved: with none, as plug-ins that keep nothing do; with one, as one framework's plug-ins without
// parameters do.
template <int saved>
class ShortState : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new ShortState); }

    tresult PLUGIN_API getState(IBStream* stream) override
    {
        char zeros[saved + 1] = {};
        return stream->write(zeros, saved, nullptr);
    }
    tresult PLUGIN_API setState(IBStream* stream) override
    {
        char bytes[saved + 1] = {};
        int32 read = 0;
        stream->read(bytes, saved + 1, &read);
        return read == saved + 1 ? kResultOk : kResultFalse;
    }
};

// Keeps no state and says so: both state calls answer "not implemented", as the SDK's component does.
class NoStateCalls : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new NoStateCalls); }
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
chatter("factory");
DEF_CLASS2(INLINE_UID(0x554E5255, 0x4C590000, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Crashing Editor", 0, "Fx", "1.0", kVstVersionString, CrashingEditor::create)
DEF_CLASS2(INLINE_UID(0x554E5255, 0x4C590000, 0x00000000, 0x00000002), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Chatty", 0, "Fx", "1.0", kVstVersionString, Chatty::create)
DEF_CLASS2(INLINE_UID(0x554E5255, 0x4C590000, 0x00000000, 0x00000003), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Keeps Nothing", 0, "Fx", "1.0", kVstVersionString, ShortState<0>::create)
DEF_CLASS2(INLINE_UID(0x554E5255, 0x4C590000, 0x00000000, 0x00000004), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "No State Calls", 0, "Fx", "1.0", kVstVersionString, NoStateCalls::create)
DEF_CLASS2(INLINE_UID(0x554E5255, 0x4C590000, 0x00000000, 0x00000005), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Zero Byte State", 0, "Fx", "1.0", kVstVersionString, ShortState<1>::create)
END_FACTORY
