// "Picky Rate": refuses to process at 44100 Hz and takes any other rate. Whatever comes in, every sample it
// puts out is the rate it was last set up for in units of 100000 Hz (0.48 at 48000 Hz).
#include "simple_effect.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class PickyRate : public SimpleEffect {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new PickyRate); }

    tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override
    {
        if (setup.sampleRate == 44100.0)
            return kResultFalse;
        rate = setup.sampleRate;
        return SimpleEffect::setupProcessing(setup);
    }

    tresult PLUGIN_API process(ProcessData& data) override
    {
        float const output = static_cast<float>(rate / 1e5);
        fillOutput(data, output, output);
        return kResultOk;
    }

private:
    double rate = 0;
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
DEF_CLASS2(INLINE_UID(0x5049434B, 0x59524154, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Picky Rate", 0, "Fx", "1.0", kVstVersionString, PickyRate::create)
END_FACTORY
