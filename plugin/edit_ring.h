// The queue of parameter edits from a plug-in's edit controller to its audio processing.
// One producer (the main thread) and one consumer (the audio thread); no lock, no allocation.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

struct ParamEdit {
    std::uint32_t paramId = 0;
    double value = 0;
};

class EditRing {
public:
    // One entry always stays free, so this many edits can wait at a time.
    static constexpr std::uint64_t capacity = 1023;

    // Producer side. A full ring drops the edit; the edits already waiting stay.
    void push(ParamEdit edit)
    {
        std::uint64_t const write = writeIndex.load(std::memory_order_relaxed);
        std::uint64_t const next = (write + 1) & mask;
        if (next == readIndex.load(std::memory_order_acquire))
            return;
        pendingEdits[write] = edit;
        writeIndex.store(next, std::memory_order_release);
    }

    // Audio thread. Hands every waiting edit to `take` in push order; edits pushed while this
    // runs are taken too.
    template <typename Take>
    void drain(Take&& take)
    {
        std::uint64_t read = readIndex.load(std::memory_order_relaxed);
        while (read != writeIndex.load(std::memory_order_acquire)) {
            ParamEdit const edit = pendingEdits[read];
            read = (read + 1) & mask;
            readIndex.store(read, std::memory_order_release);
            take(edit);
        }
    }

private:
    static constexpr std::uint64_t mask = capacity;

    std::array<ParamEdit, capacity + 1> pendingEdits{};
    std::atomic<std::uint64_t> writeIndex{0};
    std::atomic<std::uint64_t> readIndex{0};
};
