// "Refuses State": refuses every state it is given, after scribbling into the stream it was handed to
// read from; its own state is "REFUSES STATE".
#include "simple_effect.h"

#include <pluginterfaces/base/ibstream.h>

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class RefusesState : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new RefusesState); }

    tresult PLUGIN_API setState(IBStream* stream) override
    {
        char scribble[4096] = {};
        stream->write(scribble, sizeof scribble, nullptr);
        return kResultFalse;
    }

    tresult PLUGIN_API getState(IBStream* stream) override
    {
        char const text[] = "REFUSES STATE";
        return stream->write(const_cast<char*>(text), std::strlen(text), nullptr);
    }
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
DEF_CLASS2(INLINE_UID(0x52454655, 0x53455354, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Refuses State", 0, "Fx", "1.0", kVstVersionString, RefusesState::create)
END_FACTORY
