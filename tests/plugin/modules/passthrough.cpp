// "Pass Through": output equals input; one parameter, "Amount", saved in the state. Asked for
// its editor, it makes 10 complete edits of "Amount" (0.1 .. 1.0) and then offers no view.
#include "simple_effect.h"

#include <base/source/fstreamer.h>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID amount = 0;
constexpr int64 stateTag = 0x53534150;  // "PASS"

class PassThrough : public StereoSingleComponent {
public:
    static FUnknown* create(void*) { return static_cast<IAudioProcessor*>(new PassThrough); }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        tresult result = StereoSingleComponent::initialize(context);
        if (result != kResultOk)
            return result;
        parameters.addParameter(STR16("Amount"), nullptr, 0, 0.0, ParameterInfo::kCanAutomate, amount);
        return kResultOk;
    }

    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                          int32 numOuts) override
    {
        bool const inputFits = numIns == 0 || (numIns == 1 && SpeakerArr::getChannelCount(inputs[0]) <= 2);
        if (!inputFits || numOuts != 1 || outputs[0] != SpeakerArr::kStereo)
            return kResultFalse;
        return SingleComponentEffect::setBusArrangements(inputs, numIns, outputs, numOuts);
    }

    tresult PLUGIN_API setProcessing(TBool) override { return kResultOk; }

    tresult PLUGIN_API getState(IBStream* stream) override
    {
        IBStreamer out(stream, kLittleEndian);
        out.writeInt64(stateTag);
        out.writeDouble(getParamNormalized(amount));
        return kResultOk;
    }

    tresult PLUGIN_API setState(IBStream* stream) override
    {
        IBStreamer in(stream, kLittleEndian);
        int64 tag = 0;
        double value = 0;
        if (!in.readInt64(tag) || tag != stateTag || !in.readDouble(value))
            return kResultFalse;
        setParamNormalized(amount, value);
        return kResultOk;
    }

    IPlugView* PLUGIN_API createView(FIDString) override
    {
        for (int step = 1; step <= 10; ++step) {
            double const value = step / 10.0;
            beginEdit(amount);
            setParamNormalized(amount, value);
            performEdit(amount, value);
            endEdit(amount);
        }
        return nullptr;
    }
};

}  // namespace

BEGIN_FACTORY_DEF("rackhost tests", "", "")
DEF_CLASS2(INLINE_UID(0x50415353, 0x54485255, 0x00000000, 0x00000001), PClassInfo::kManyInstances,
           kVstAudioEffectClass, "Pass Through", 0, "Fx", "1.0", kVstVersionString, PassThrough::create)
END_FACTORY
