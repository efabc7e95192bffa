// Cost of one 128-frame Rack::run with 0, 1 and 8 pass-through slots, gate off and on, against a
// plain copy of the same samples into both outputs (the least any rack could cost).
#include "audio/rack.h"
#include "tests/audio/test_plugins.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

constexpr int periodFrames = 128;

struct PassThrough : TestPlugin {
    // Audio thread: copies both channels.
    void process(float const* const* inputs, float* const* outputs, int frames) override
    {
        std::copy_n(inputs[0], frames, outputs[0]);
        std::copy_n(inputs[1], frames, outputs[1]);
    }
};

std::vector<float> noise()
{
    std::vector<float> samples(periodFrames);
    for (int i = 0; i < periodFrames; ++i)
        samples[i] = static_cast<float>((i * 7919) % 200 - 100) / 100.0f;
    return samples;
}

void plainCopy(benchmark::State& state)
{
    auto const input = noise();
    std::vector<float> left(periodFrames), right(periodFrames);
    for (auto _ : state) {
        std::copy_n(input.data(), periodFrames, left.data());
        std::copy_n(input.data(), periodFrames, right.data());
        benchmark::ClobberMemory();
    }
}

// Arguments: number of slots, gate on (1) or off (0).
void rackRun(benchmark::State& state)
{
    Rack rack;
    rack.setLevels(0.0f, state.range(1) ? -60.0f : -96.0f, 0.0f);
    std::vector<Slot> slots;
    for (int i = 0; i < state.range(0); ++i)
        slots.push_back({"slot", std::make_shared<PassThrough>(), false});
    rack.setSlots(std::move(slots));
    auto const input = noise();
    std::vector<float> left(periodFrames), right(periodFrames);
    for (auto _ : state) {
        rack.run(input.data(), left.data(), right.data(), periodFrames);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(plainCopy);
BENCHMARK(rackRun)->ArgNames({"slots", "gate"})->ArgsProduct({{0, 1, 8}, {0, 1}});
BENCHMARK_MAIN();
