// Shared by the small test modules: a stereo effect whose output is its input, either a component without
// edit controller (SimpleEffect) or one that is its own edit controller (StereoSingleComponent). Each
// module changes one thing about it.
#pragma once

#include "copy_through.h"

#include <public.sdk/source/main/pluginfactory.h>
#include <public.sdk/source/vst/vstaudioeffect.h>
#include <public.sdk/source/vst/vstsinglecomponenteffect.h>

template <class Base>
class StereoCopyEffect : public Base {
public:
    Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override
    {
        Steinberg::tresult result = Base::initialize(context);
        if (result != Steinberg::kResultOk)
            return result;
        this->addAudioInput(STR16("Input"), Steinberg::Vst::SpeakerArr::kStereo);
        this->addAudioOutput(STR16("Output"), Steinberg::Vst::SpeakerArr::kStereo);
        return Steinberg::kResultOk;
    }

    Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override
    {
        copyThrough(data);
        return Steinberg::kResultOk;
    }
};

using SimpleEffect = StereoCopyEffect<Steinberg::Vst::AudioEffect>;
using StereoSingleComponent = StereoCopyEffect<Steinberg::Vst::SingleComponentEffect>;
