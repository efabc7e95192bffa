// The audio path of a plug-in takes no lock and allocates nothing: while process() runs, every
// allocation and every mutex lock of its thread is counted.
#include "plugin_fixture.h"
#include "tests/support/heap_use.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

namespace {

thread_local bool countingLocks = false;
thread_local long locks = 0;

using LockFunction = int (*)(pthread_mutex_t*);
LockFunction realLock = nullptr;

struct Counts {
    std::size_t allocations;
    std::size_t frees;
    long locks;
    bool operator==(Counts const&) const = default;
};

std::ostream& operator<<(std::ostream& out, Counts const& counts)
{
    return out << counts.allocations << " allocations, " << counts.frees << " frees, " << counts.locks << " locks";
}

Counts countWhileProcessing(Plugin& plugin, int blocks, void (*beforeEachBlock)() = [] {})
{
    EXPECT_TRUE(plugin.prepare(48000, 512));
    StereoBlock block;
    block.run(plugin);  // a plug-in may set itself up in its first block
    Counts counts{0, 0, 0};
    for (int i = 0; i < blocks; ++i) {
        beforeEachBlock();
        HeapUse const before = heapUseOnThisThread();
        locks = 0;
        countingLocks = true;
        block.run(plugin);
        countingLocks = false;
        HeapUse const after = heapUseOnThisThread();
        counts.allocations += after.allocations - before.allocations;
        counts.frees += after.frees - before.frees;
        counts.locks += locks;
    }
    return counts;
}

}  // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    if (!realLock)
        realLock = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (countingLocks)
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
    EXPECT_EQ(countWhileProcessing(*recorded, 1000, edit), (Counts{0, 0, 0}));
    EXPECT_EQ(recorder().lastBlock.pointCount, 2u);  // the edits did reach the processor

    for (auto [bundle, className] : {std::pair{testModule("passthrough"), "Pass Through"},
                                     {sdkExample("adelay"), "ADelay"}}) {
        auto plugin = loadClass(bundle, className);
        ASSERT_TRUE(plugin);
        EXPECT_EQ(countWhileProcessing(*plugin, 1000), (Counts{0, 0, 0})) << className;
    }
}

TEST(AudioPath, TheLockCountSeesALock)
{
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    locks = 0;
    countingLocks = true;
    pthread_mutex_lock(&mutex);
    countingLocks = false;
    pthread_mutex_unlock(&mutex);
    EXPECT_EQ(locks, 1);
}
