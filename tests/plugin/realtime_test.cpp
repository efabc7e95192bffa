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

// What this thread did while processing `blocks` blocks, after a first one in which a plug-in may
// set itself up.
std::string useWhileProcessing(Plugin& plugin, int blocks, void (*beforeEachBlock)() = [] {})
{
    EXPECT_TRUE(plugin.prepare(48000, 512));
    StereoBlock block;
    block.run(plugin);
    HeapUse used;
    locks = 0;
    for (int i = 0; i < blocks; ++i) {
        beforeEachBlock();
        HeapUse const before = heapUseOnThisThread();
        countingLocks = true;
        block.run(plugin);
        countingLocks = false;
        HeapUse const after = heapUseOnThisThread();
        used.allocations += after.allocations - before.allocations;
        used.frees += after.frees - before.frees;
    }
    return std::to_string(used.allocations) + " allocations, " + std::to_string(used.frees) + " frees, " +
           std::to_string(locks) + " locks";
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
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;  // the count does see a lock
    countingLocks = true;
    pthread_mutex_lock(&mutex);
    countingLocks = false;
    pthread_mutex_unlock(&mutex);
    ASSERT_EQ(locks, 1);

    auto recorded = loadRecorder("Separate Controller");
    ASSERT_TRUE(recorded);
    auto const edit = [] {
        for (unsigned int id : {0u, 1u, 0u})
            callHandler(HandlerCall::performEdit, id, 0.5);
    };
    EXPECT_EQ(useWhileProcessing(*recorded, 1000, edit), "0 allocations, 0 frees, 0 locks");
    EXPECT_EQ(recorder().lastBlock.pointCount, 2u);  // the edits did reach the processor

    for (auto [bundle, className] : {std::pair{testModule("passthrough"), "Pass Through"},
                                     {sdkExample("adelay"), "ADelay"}}) {
        auto plugin = loadClass(bundle, className);
        ASSERT_TRUE(plugin);
        EXPECT_EQ(useWhileProcessing(*plugin, 1000), "0 allocations, 0 frees, 0 locks") << className;
    }
}
