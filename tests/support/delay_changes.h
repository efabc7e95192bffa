// Whether a path that passes its input unchanged (an empty rack at 0 dB) kept one delay, bit for bit, read
// from a recording of 4 float channels: 0-1 the path's input and 2-3 its output, sample-aligned.
#pragma once

#include <cstddef>
#include <vector>

struct DelayChanges {
    std::size_t changes = 0;   // blocks dropped or inserted
    std::size_t inserted = 0;  // frames
    std::size_t dropped = 0;   // frames
    std::size_t unmatched = 0; // probes found at no delay: audio lost or corrupted
    std::size_t probes = 0;
};

constexpr int recordedChannels = 4;

// Every 10 ms the next 32 input samples are looked up in the output: at the last delay first, then at any
// delay up to 200 ms. `rate` is the recording's.
DelayChanges delayChanges(std::vector<float> const& frames, int rate);

// Whether the 32 input samples from frame `at` appear in the output at any delay up to 200 ms.
bool reachesOutput(std::vector<float> const& frames, std::size_t at, int rate);
