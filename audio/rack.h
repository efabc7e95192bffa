// The chain of plug-ins the audio thread runs: input gain, noise gate, slots, output gain, meters.
// Slot lists are published without a lock and freed only on the control thread.
#pragma once

#include "plugin/plugin.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One rack position; the rack skips a slot that is bypassed or has no plug-in.
struct Slot {
    std::string id;
    std::shared_ptr<Plugin> plugin;
    bool bypass = false;
};

// Peaks since the previous reading, linear (1.0 = full scale).
struct Levels {
    float input = 0.0f;
    float output = 0.0f;
};

// A level in dB as a linear factor, in single precision.
float gainOf(float dB);

class Rack {
public:
    // Every plug-in the rack runs is prepared for this block size; longer runs are split into blocks of it.
    static constexpr int blockFrames = 512;

    Rack();
    ~Rack();
    Rack(Rack const&) = delete;
    Rack& operator=(Rack const&) = delete;

    // Control thread: publishes a new list; the replaced one is retired, not freed.
    void setSlots(std::vector<Slot> slots);
    // Control thread: frees retired lists no run can still read: every one replaced while no run was in
    // progress, and any other once that run has ended (all of them when `force`). `force` only while no
    // run can be in progress.
    void collect(bool force);
    // Control thread: the published list.
    std::vector<Slot> const& slots() const;

    // Control thread: input gain, gate level and output volume in dB; -96 dB or lower turns the gate off.
    void setLevels(float gainDb, float gateDb, float volumeDb);
    // Only while no run can be in progress.
    void setSampleRate(double rate);
    // Audio thread: takes no lock, allocates and frees nothing. A sample that isn't finite, after the input
    // gain, from a plug-in or after the output volume, goes on as 0.
    void run(float const* input, float* left, float* right, int frames);
    // Control thread: both peaks, reset to 0.
    Levels takeLevels();

private:
    std::atomic<std::vector<Slot>*> current;
    // Each replaced list with the number of runs begun when it was replaced: it is free once that many ended.
    std::vector<std::pair<std::vector<Slot>*, std::uint64_t>> retired;
    std::atomic<std::uint64_t> runsBegun{0};
    std::atomic<std::uint64_t> runs{0};
    std::atomic<float> inputGain{1.0f};
    std::atomic<float> gateThreshold{0.0f};
    std::atomic<float> outputGain{1.0f};
    std::atomic<float> inputPeak{0.0f};
    std::atomic<float> outputPeak{0.0f};
    // Per-sample gate coefficients for the sample rate: the envelope's release and the gain's smoothing.
    float gateRelease = 0.0f;
    float gateSmoothing = 0.0f;
    float gateEnvelope = 0.0f;
    float gateGain = 1.0f;
    std::vector<float> scratch[4];
};
