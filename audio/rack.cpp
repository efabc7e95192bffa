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

// All exponent bits set: an infinity or a NaN. Judged by the bits rather than by float comparisons,
// which finite-math compiler flags would fold away.
constexpr std::uint32_t exponentBits = 0x7f800000;

bool isFinite(float sample)
{
    return (std::bit_cast<std::uint32_t>(sample) & exponentBits) != exponentBits;
}

// Audio thread: whether 16-bit maxima over samples' magnitudes show every sample finite. Without the sign,
// a sample's upper 16 bits reach 0x7f80 only when all its exponent bits are set; the lower halves (mantissa
// bits) are not looked at.
bool upperMaximaFinite(__m128i upperMaxima)
{
    int const upperBytes = 0xcccc;  // of each sample, in the byte mask below
    return (_mm_movemask_epi8(_mm_cmpgt_epi16(upperMaxima, _mm_set1_epi16(0x7f7f))) & upperBytes) == 0;
}

// Audio thread: whether all `n` samples are finite. It runs after every plug-in, which almost never gives
// a reason to rewrite a sample, so it only reads.
bool allFinite(float const* samples, int n)
{
    __m128i const magnitude = _mm_set1_epi32(0x7fffffff);
    auto magnitudeOf = [&](int at) {
        return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<__m128i const*>(samples + at)), magnitude);
    };
    // Two maxima, so that no step waits for the one just before it.
    __m128i even = _mm_setzero_si128();
    __m128i odd = _mm_setzero_si128();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        even = _mm_max_epi16(even, magnitudeOf(i));
        odd = _mm_max_epi16(odd, magnitudeOf(i + 4));
    }
    bool all = upperMaximaFinite(_mm_max_epi16(even, odd));
    for (; i < n; ++i)
        all = all && isFinite(samples[i]);
    return all;
}

// Audio thread: every sample that isn't finite becomes 0; finite samples keep their bits.
void zeroEachNonFinite(float* samples, int n)
{
    for (int i = 0; i < n; ++i) {
        if (!isFinite(samples[i]))
            samples[i] = 0.0f;
    }
}

// Audio thread: the same, only reading while all samples are finite, as they nearly always are.
void zeroNonFinite(float* samples, int n)
{
    if (!allFinite(samples, n))
        zeroEachNonFinite(samples, n);
}

// Audio thread: the largest |sample|.
float peakOf(float const* samples, int n)
{
    float peak = 0.0f;
    for (int i = 0; i < n; ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

// What scaledFinite() scales: the input, from a file or a device, where any sample may be NaN or infinite,
// into both channels of the chain's first pair; or one channel of the chain's output, finite samples
// that only an overflow to infinity can make non-finite, which the largest product then shows.
enum class Scaling { input, output };

// Audio thread: to (and for the input `copy`) = from × factor, where a product that isn't finite becomes 0;
// returns the largest |to|. Each gain is finite, yet a loud signal times both overflows, and an input
// may deliver NaN: neither may reach a plug-in, the meters or the device. Written for SSE, in one pass:
// the compilers keep a float maximum serial, and a serial one, or a second pass over the samples, costs
// more than everything else in a run.
template <Scaling scaling>
float scaledFinite(float const* from, float factor, float* to, float* copy, int n)
{
    constexpr bool fromOutside = scaling == Scaling::input;
    __m128 const gain = _mm_set1_ps(factor);
    __m128i const magnitude = _mm_set1_epi32(0x7fffffff);
    // 16-bit maxima of the products' magnitudes, for upperMaximaFinite().
    __m128i upperMaxima = _mm_setzero_si128();
    auto step = [&](int at, __m128 peak) {
        __m128 const y = _mm_mul_ps(_mm_loadu_ps(from + at), gain);
        _mm_storeu_ps(to + at, y);
        __m128i const size = _mm_and_si128(_mm_castps_si128(y), magnitude);
        if constexpr (fromOutside) {
            _mm_storeu_ps(copy + at, y);
            upperMaxima = _mm_max_epi16(upperMaxima, size);
        }
        // The old maximum second: it is what maxps keeps when the new value is a NaN.
        return _mm_max_ps(_mm_castsi128_ps(size), peak);
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
    bool finite = upperMaximaFinite(upperMaxima);
    for (; i < n; ++i) {
        to[i] = from[i] * factor;
        if constexpr (fromOutside) {
            copy[i] = to[i];
            finite = finite && isFinite(to[i]);
        }
        peak = std::max(peak, std::fabs(to[i]));
    }
    if (finite && isFinite(peak))
        return peak;
    zeroEachNonFinite(to, n);
    if constexpr (fromOutside)
        std::copy_n(to, n, copy);
    return peakOf(to, n);
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
    // Read after the exchange: a run not counted here reads `fresh`, so only runs counted here (at most the
    // one in progress) can still be reading `old`. While no run is in progress it can go at once, so loads
    // before the first run, or on a device not started, don't pile up plug-ins.
    retired.emplace_back(old, runsBegun.load());
}

void Rack::collect(bool force)
{
    std::uint64_t const completed = runs.load();
    auto kept = retired.begin();
    for (auto& entry : retired) {
        if (force || entry.second <= completed)
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

// Audio thread: no lock, no allocation, no reference counting; `runsBegun` raised first, the list read
// once, `runs` raised last.
void Rack::run(float const* input, float* left, float* right, int frames)
{
    ++runsBegun;
    std::vector<Slot> const& slots = *current.load();
    float const gain = inputGain.load();
    float const threshold = gateThreshold.load();
    float const volume = outputGain.load();

    for (int offset = 0; offset < frames; offset += blockFrames) {
        int const n = std::min(frames - offset, blockFrames);
        float* in[2] = {scratch[0].data(), scratch[1].data()};
        float* out[2] = {scratch[2].data(), scratch[3].data()};

        float inputMax = scaledFinite<Scaling::input>(input + offset, gain, in[0], in[1], n);
        if (threshold > 0.0f) {
            inputMax = 0.0f;
            for (int i = 0; i < n; ++i) {
                float const x = in[0][i];
                float const a = std::fabs(x);
                gateEnvelope = a > gateEnvelope ? a : gateEnvelope * gateRelease;
                float const target = threshold <= gateEnvelope ? 1.0f : 0.0f;
                gateGain = (gateGain - target) * gateSmoothing + target;
                float const y = gateGain * x;
                in[0][i] = y;
                in[1][i] = y;
                inputMax = std::max(inputMax, std::fabs(y));
            }
        }
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

        float const leftMax = scaledFinite<Scaling::output>(in[0], volume, left + offset, nullptr, n);
        float const rightMax = scaledFinite<Scaling::output>(in[1], volume, right + offset, nullptr, n);
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
