// The audio path of a plug-in takes no lock and allocates nothing: while process() runs, every
// allocation and every mutex lock of its thread is counted.
#include "plugin_fixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>
#include <new>

namespace {

thread_local bool counting = false;
thread_local long allocations = 0;
thread_local long locks = 0;

using LockFunction = int (*)(pthread_mutex_t*);
LockFunction realLock = nullptr;

struct Counts {
    long allocations;
    long locks;
    bool operator==(Counts const&) const = default;
};

std::ostream& operator<<(std::ostream& out, Counts const& counts)
{
    return out << counts.allocations << " allocations, " << counts.locks << " locks";
}

Counts countWhileProcessing(Plugin& plugin, int blocks, void (*beforeEachBlock)() = [] {})
{
    EXPECT_TRUE(plugin.prepare(48000, 512));
    StereoBlock block;
    block.run(plugin);  // a plug-in may set itself up in its first block
    allocations = locks = 0;
    for (int i = 0; i < blocks; ++i) {
        beforeEachBlock();
        counting = true;
        block.run(plugin);
        counting = false;
    }
    return {allocations, locks};
}

}  // namespace

// Not inlined, so the compiler never pairs these with the C library's allocator.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    if (counting)
        ++allocations;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* memory) noexcept
{
    if (counting && memory)
        ++allocations;
    std::free(memory);
}

[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept
{
    operator delete(memory);
}

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    if (!realLock)
        realLock = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (counting)
        ++locks;
    return realLock(mutex);
}

TEST(AudioPath, ProcessingAllocatesNothingAndTakesNoLock)
{
    auto recorded = loadRecorder("Separate Controller");
    ASSERT_TRUE(recorded);
    auto const edit = [] {
        for (unsigned int id : {0u, 1u, 0u})
            callHandler(HandlerCall::performEdit, id, 0.5);
    };
    EXPECT_EQ(countWhileProcessing(*recorded, 1000, edit), (Counts{0, 0}));
    EXPECT_EQ(recorder().lastBlock.pointCount, 2u);  // the edits did reach the processor

    for (auto [bundle, className] : {std::pair{testModule("passthrough"), "Pass Through"},
                                     {sdkExample("adelay"), "ADelay"}}) {
        auto plugin = loadClass(bundle, className);
        ASSERT_TRUE(plugin);
        EXPECT_EQ(countWhileProcessing(*plugin, 1000), (Counts{0, 0})) << className;
    }
}

TEST(AudioPath, TheCountsSeeAllocationsAndLocks)
{
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    counting = true;
    allocations = locks = 0;
    delete new int(1);
    pthread_mutex_lock(&mutex);
    counting = false;
    pthread_mutex_unlock(&mutex);
    EXPECT_EQ((Counts{allocations, locks}), (Counts{2, 1}));
}
