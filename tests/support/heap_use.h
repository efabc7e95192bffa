// Counts the heap allocations and frees each thread makes, through replaced global operator new and
// delete; linking it into a test lets the test prove that code on the audio path does neither.
#pragma once

#include <cstddef>

struct HeapUse {
    std::size_t allocations = 0;
    std::size_t frees = 0;

    bool operator==(HeapUse const&) const = default;
};

// Totals of the calling thread since it started.
HeapUse heapUseOnThisThread();
