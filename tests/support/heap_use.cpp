// Counts allocations per thread: through the sanitizer allocator's hooks in sanitizer builds (which
// own operator new there), else through replaced global operator new and delete.
#include "tests/support/heap_use.h"

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RACKHOST_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RACKHOST_SANITIZER_ALLOCATOR 1
#endif
#endif

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

namespace {

void* allocate(std::size_t size)
{
    ++counts.allocations;
    return std::malloc(size ? size : 1);
}

void* allocateAligned(std::size_t size, std::align_val_t alignment)
{
    ++counts.allocations;
    std::size_t const align = static_cast<std::size_t>(alignment);
    return std::aligned_alloc(align, (size + align - 1) / align * align);
}

void release(void* pointer)
{
    if (pointer) {
        ++counts.frees;
        std::free(pointer);
    }
}

}  // namespace

void* operator new(std::size_t size)
{
    if (void* pointer = allocate(size))
        return pointer;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, std::nothrow_t const&) noexcept
{
    return allocate(size);
}

void* operator new[](std::size_t size, std::nothrow_t const&) noexcept
{
    return allocate(size);
}

void* operator new(std::size_t size, std::align_val_t alignment)
{
    if (void* pointer = allocateAligned(size, alignment))
        return pointer;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return operator new(size, alignment);
}

void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { release(pointer); }

#endif
