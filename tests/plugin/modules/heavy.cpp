// The heavy test module: plug-ins that cost their host time or memory, as big real ones do.
#include "simple_effect.h"

#include <chrono>
#include <thread>
#include <vector>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Takes 1.5 s to start, as one that loads its samples first does.
class SlowStart : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new SlowStart); }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return SimpleEffect::initialize(context);
    }
};

// Fills 4 MB of buffers each time it is activated, as a reverb does, and lets them go when deactivated.
class BigBuffers : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new BigBuffers); }

    tresult PLUGIN_API setActive(TBool state) override
    {
        buffers = state ? std::vector<float>(1 << 20, 0.0f) : std::vector<float>();
        return SimpleEffect::setActive(state);
    }

private:
    std::vector<float> buffers;
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
DEF_CLASS2(INLINE_UID(0x48454156, 0x59000000, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Slow Start", 0, "Fx", "1.0", kVstVersionString, SlowStart::create)
DEF_CLASS2(INLINE_UID(0x48454156, 0x59000000, 0x00000000, 0x00000002), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Big Buffers", 0, "Fx", "1.0", kVstVersionString, BigBuffers::create)
END_FACTORY
