// The rack: lock-free publication of slot lists with reclamation on the control thread, and the
// signal path from mono input through gain, gate and the plug-ins to stereo output with meters.
#include "audio/rack.h"

#include <algorithm>
#include <cmath>

namespace {

// Every plug-in is prepared for this block size; longer runs are split into blocks of it.
constexpr int blockFrames = 512;

// Gate levels at or below this switch the gate off.
constexpr float gateOffDb = -96.0f;

// Audio thread: raises a meter to `peak` unless it already holds at least that much.
void raise(std::atomic<float>& meter, float peak)
{
    float seen = meter.load();
    while (peak > seen && !meter.compare_exchange_weak(seen, peak)) {
    }
}

}  // namespace

float gainOf(float dB)
{
    return std::pow(10.0f, dB / 20.0f);
}

Rack::Rack() : current(new std::vector<Slot>)
{
    for (auto& buffer : scratch)
        buffer.assign(blockFrames, 0.0f);
}

Rack::~Rack()
{
    collect(true);
    delete current.load();
}

void Rack::setSlots(std::vector<Slot> slots)
{
    // Room first, so a failed allocation can't lose track of the list being replaced.
    retired.reserve(retired.size() + 1);
    auto* fresh = new std::vector<Slot>(std::move(slots));
    std::vector<Slot>* old = current.exchange(fresh);
    // Read after the exchange: a run not yet counted here may still be reading `old`.
    retired.emplace_back(old, runs.load());
}

void Rack::collect(bool force)
{
    std::uint64_t const completed = runs.load();
    auto kept = retired.begin();
    for (auto& entry : retired) {
        if (force || entry.second < completed)
            delete entry.first;
        else
            *kept++ = entry;
    }
    retired.erase(kept, retired.end());
}

std::vector<Slot> const& Rack::slots() const
{
    return *current.load();
}

void Rack::setLevels(float gainDb, float gateDb, float volumeDb)
{
    inputGain = gainOf(gainDb);
    gateThreshold = gateDb <= gateOffDb ? 0.0f : gainOf(gateDb);
    outputGain = gainOf(volumeDb);
}

void Rack::setSampleRate(double sampleRate)
{
    rate = sampleRate;
}

// Audio thread: no lock, no allocation, no reference counting; the list is read once, `runs` raised last.
void Rack::run(float const* input, float* left, float* right, int frames)
{
    std::vector<Slot> const& slots = *current.load();
    float const gain = inputGain.load();
    float const threshold = gateThreshold.load();
    float const volume = outputGain.load();
    float const fs = static_cast<float>(rate);
    float const release = std::exp(-1.0f / (fs * 0.1f));
    float const smoothing = std::exp(-1.0f / (fs * 0.005f));

    for (int offset = 0; offset < frames; offset += blockFrames) {
        int const n = std::min(frames - offset, blockFrames);
        float* in[2] = {scratch[0].data(), scratch[1].data()};
        float* out[2] = {scratch[2].data(), scratch[3].data()};

        float inputMax = 0.0f;
        for (int i = 0; i < n; ++i) {
            float const x = input[offset + i] * gain;
            float y = x;
            if (threshold > 0.0f) {
                float const a = std::fabs(x);
                gateEnvelope = a > gateEnvelope ? a : gateEnvelope * release;
                float const target = threshold <= gateEnvelope ? 1.0f : 0.0f;
                gateGain = (gateGain - target) * smoothing + target;
                y = gateGain * x;
            }
            in[0][i] = y;
            in[1][i] = y;
            inputMax = std::max(inputMax, std::fabs(y));
        }
        raise(inputPeak, inputMax);

        for (Slot const& slot : slots) {
            if (slot.bypass || !slot.plugin)
                continue;
            slot.plugin->process(in, out, n);
            std::swap(in[0], out[0]);
            std::swap(in[1], out[1]);
        }

        float outputMax = 0.0f;
        for (int i = 0; i < n; ++i) {
            left[offset + i] = in[0][i] * volume;
            right[offset + i] = in[1][i] * volume;
            outputMax = std::max({outputMax, std::fabs(left[offset + i]), std::fabs(right[offset + i])});
        }
        raise(outputPeak, outputMax);
    }
    ++runs;
}

Levels Rack::takeLevels()
{
    Levels levels;
    levels.input = inputPeak.exchange(0.0f);
    levels.output = outputPeak.exchange(0.0f);
    return levels;
}
