// Shared by the small test modules: a stereo effect without edit controller whose output is its
// input. Each module changes one thing about it.
#pragma once

#include "copy_through.h"

#include <public.sdk/source/main/pluginfactory.h>
#include <public.sdk/source/vst/vstaudioeffect.h>

class SimpleEffect : public Steinberg::Vst::AudioEffect {
public:
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override
    {
        Steinberg::tresult result = AudioEffect::initialize(context);
        if (result != Steinberg::kResultOk)
            return result;
        addAudioInput(STR16("Input"), Steinberg::Vst::SpeakerArr::kStereo);
        addAudioOutput(STR16("Output"), Steinberg::Vst::SpeakerArr::kStereo);
        return Steinberg::kResultOk;
    }

    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override
    {
        copyThrough(data);
        return Steinberg::kResultOk;
    }
};
