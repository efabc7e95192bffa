// Counts the heap allocations and frees each thread makes; linking it into a test lets the test prove
// that code on the audio path does neither. Outside sanitizer builds it replaces operator new and delete.
#pragma once

#include <cstddef>

struct HeapUse {
    std::size_t allocations = 0;
    std::size_t frees = 0;

    bool operator==(HeapUse const&) const = default;
};

// Totals of the calling thread since it started.
HeapUse heapUseOnThisThread();
