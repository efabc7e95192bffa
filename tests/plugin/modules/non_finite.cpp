// "Non Finite": a stereo effect whose output is NaN on the left and +Inf on the right, as a real effect
// with an uninitialised member gives.
#include "simple_effect.h"

#include <limits>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class NonFinite : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new NonFinite); }

    tresult PLUGIN_API process(ProcessData& data) override
    {
        fillOutput(data, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity());
        return kResultOk;
    }
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
DEF_CLASS2(INLINE_UID(0x4E4F4E46, 0x494E4954, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Non Finite", 0, "Fx", "1.0", kVstVersionString, NonFinite::create)
END_FACTORY
