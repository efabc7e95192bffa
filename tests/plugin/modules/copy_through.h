// Shared by the test modules: audio that leaves a plug-in as it came in, or made up.
#pragma once

#include <pluginterfaces/vst/ivstaudioprocessor.h>

#include <algorithm>

// Output bus 0 gets input bus 0, channel by channel, times `gain`; an output channel beyond the
// input's last one repeats that last one. Without input, the output is silent.
inline void copyThrough(Steinberg::Vst::ProcessData& data, float gain = 1.0f)
{
    if (data.numOutputs < 1)
        return;
    auto const& out = data.outputs[0];
    int const inChannels = data.numInputs > 0 ? data.inputs[0].numChannels : 0;
    for (int channel = 0; channel < out.numChannels; ++channel) {
        float* to = out.channelBuffers32[channel];
        if (inChannels == 0) {
            std::fill_n(to, data.numSamples, 0.0f);
            continue;
        }
        float const* from = data.inputs[0].channelBuffers32[std::min(channel, inChannels - 1)];
        std::transform(from, from + data.numSamples, to, [gain](float sample) { return sample * gain; });
    }
}

// Output bus 0 filled with `left` on its first channel and `right` on every other, whatever came in.
inline void fillOutput(Steinberg::Vst::ProcessData& data, float left, float right)
{
    if (data.numOutputs < 1)
        return;
    auto const& out = data.outputs[0];
    for (int channel = 0; channel < out.numChannels; ++channel)
        std::fill_n(out.channelBuffers32[channel], data.numSamples, channel == 0 ? left : right);
}
