// The rack: lock-free publication of slot lists with reclamation on the control thread, and the
// signal path from mono input through gain, gate and the plug-ins to stereo output with meters.
#include "audio/rack.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include <immintrin.h>

namespace {

// Gate levels at or below this switch the gate off.
constexpr float gateOffDb = -96.0f;

// Audio thread: raises a meter to `peak` unless it already holds at least that much.
void raise(std::atomic<float>& meter, float peak)
{
    float seen = meter.load();
    while (peak > seen && !meter.compare_exchange_weak(seen, peak)) {
    }
}

// Audio thread: to = from × factor; returns the largest |to|, passing a NaN over. Written for SSE: the
// compilers keep a float maximum serial, and a serial one costs more than everything else in a run.
float scaled(float const* from, float factor, float* to, int n)
{
    __m128 const gain = _mm_set1_ps(factor);
    __m128 const magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    auto step = [&](int at, __m128 peak) {
        __m128 const y = _mm_mul_ps(_mm_loadu_ps(from + at), gain);
        _mm_storeu_ps(to + at, y);
        // The old maximum second: it is what maxps keeps when the new value is a NaN.
        return _mm_max_ps(_mm_and_ps(y, magnitude), peak);
    };
    // Two maxima, so that no step waits for the one just before it.
    __m128 even = _mm_setzero_ps();
    __m128 odd = _mm_setzero_ps();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        even = step(i, even);
        odd = step(i + 4, odd);
    }
    float lanes[4];
    _mm_storeu_ps(lanes, _mm_max_ps(even, odd));
    float peak = std::max({lanes[0], lanes[1], lanes[2], lanes[3]});
    for (; i < n; ++i) {
        to[i] = from[i] * factor;
        peak = std::max(peak, std::fabs(to[i]));
    }
    return peak;
}

// All exponent bits set: an infinity or a NaN. Judged by the bits rather than by float comparisons,
// which finite-math compiler flags would fold away.
constexpr std::uint32_t exponentBits = 0x7f800000;

bool isFinite(float sample)
{
    return (std::bit_cast<std::uint32_t>(sample) & exponentBits) != exponentBits;
}

// Audio thread: whether all `n` samples are finite. It runs after every plug-in, which almost never gives
// a reason to rewrite a sample, so it only reads: without the sign, a sample's upper 16 bits reach 0x7f80
// only when all its exponent bits are set, and a 16-bit maximum over them is the whole test.
bool allFinite(float const* samples, int n)
{
    __m128i const upperHalf = _mm_set1_epi32(0x7fff0000);
    auto upperOf = [&](int at) {
        return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<__m128i const*>(samples + at)), upperHalf);
    };
    // Two maxima, so that no step waits for the one just before it.
    __m128i even = _mm_setzero_si128();
    __m128i odd = _mm_setzero_si128();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        even = _mm_max_epi16(even, upperOf(i));
        odd = _mm_max_epi16(odd, upperOf(i + 4));
    }
    __m128i const beyondFinite = _mm_cmpgt_epi16(_mm_max_epi16(even, odd), _mm_set1_epi16(0x7f7f));
    bool all = _mm_movemask_epi8(beyondFinite) == 0;
    for (; i < n; ++i)
        all = all && isFinite(samples[i]);
    return all;
}

// Audio thread: every sample that isn't finite becomes 0; finite samples keep their bits.
void zeroNonFinite(float* samples, int n)
{
    if (allFinite(samples, n))
        return;
    for (int i = 0; i < n; ++i) {
        if (!isFinite(samples[i]))
            samples[i] = 0.0f;
    }
}

}  // namespace

float gainOf(float dB)
{
    return std::pow(10.0f, dB / 20.0f);
}

Rack::Rack() : current(new std::vector<Slot>)
{
    setSampleRate(48000.0);
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

void Rack::setSampleRate(double rate)
{
    // Worked out here, not per run: they change only with the rate.
    float const fs = static_cast<float>(rate);
    gateRelease = std::exp(-1.0f / (fs * 0.1f));
    gateSmoothing = std::exp(-1.0f / (fs * 0.005f));
}

// Audio thread: no lock, no allocation, no reference counting; the list is read once, `runs` raised last.
void Rack::run(float const* input, float* left, float* right, int frames)
{
    std::vector<Slot> const& slots = *current.load();
    float const gain = inputGain.load();
    float const threshold = gateThreshold.load();
    float const volume = outputGain.load();

    for (int offset = 0; offset < frames; offset += blockFrames) {
        int const n = std::min(frames - offset, blockFrames);
        float* in[2] = {scratch[0].data(), scratch[1].data()};
        float* out[2] = {scratch[2].data(), scratch[3].data()};

        float inputMax = 0.0f;
        if (threshold > 0.0f) {
            for (int i = 0; i < n; ++i) {
                float const x = input[offset + i] * gain;
                float const a = std::fabs(x);
                gateEnvelope = a > gateEnvelope ? a : gateEnvelope * gateRelease;
                float const target = threshold <= gateEnvelope ? 1.0f : 0.0f;
                gateGain = (gateGain - target) * gateSmoothing + target;
                float const y = gateGain * x;
                in[0][i] = y;
                inputMax = std::max(inputMax, std::fabs(y));
            }
        } else {
            inputMax = scaled(input + offset, gain, in[0], n);
        }
        std::copy_n(in[0], n, in[1]);
        raise(inputPeak, inputMax);

        for (Slot const& slot : slots) {
            if (slot.bypass || !slot.plugin)
                continue;
            slot.plugin->process(in, out, n);
            // A plug-in's NaN would poison every filter after it and the device's integer conversion.
            zeroNonFinite(out[0], n);
            zeroNonFinite(out[1], n);
            std::swap(in[0], out[0]);
            std::swap(in[1], out[1]);
        }

        float const leftMax = scaled(in[0], volume, left + offset, n);
        float const rightMax = scaled(in[1], volume, right + offset, n);
        raise(outputPeak, std::max(leftMax, rightMax));
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
