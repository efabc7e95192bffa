// Counts allocations per thread: through the sanitizer allocator's hooks in sanitizer builds (which
// own operator new there), else through replaced global operator new and delete.
#include "tests/support/heap_use.h"
#include "tests/support/sanitized.h"

#include <cstdlib>
#include <new>

namespace {

thread_local HeapUse counts;

}  // namespace

HeapUse heapUseOnThisThread()
{
    return counts;
}

#ifdef RACKHOST_SANITIZER_ALLOCATOR

#include <sanitizer/allocator_interface.h>

namespace {

void countAllocation(void const volatile*, std::size_t)
{
    ++counts.allocations;
}

void countFree(void const volatile*)
{
    ++counts.frees;
}

// Installed before main, so every allocation of the test program is seen (malloc included).
int const hooksInstalled = __sanitizer_install_malloc_and_free_hooks(countAllocation, countFree);

}  // namespace

#else

// The other forms of new and delete (arrays, nothrow, sized) end up in these two.
void* operator new(std::size_t size)
{
    ++counts.allocations;
    if (void* pointer = std::malloc(size ? size : 1))
        return pointer;
    throw std::bad_alloc();
}

void operator delete(void* pointer) noexcept
{
    if (pointer)
        ++counts.frees;
    std::free(pointer);
}

void operator delete(void* pointer, std::size_t) noexcept
{
    operator delete(pointer);
}

#endif
