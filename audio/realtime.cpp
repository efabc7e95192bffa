// Finds out once whether this process may make a real-time thread, by making one that ends at once.
// A user without the right to it (no CAP_SYS_NICE, RLIMIT_RTPRIO below the priority) is refused here,
// before any device opens, rather than by the audio library halfway through opening one.
#include "audio/realtime.h"

#include <pthread.h>
#include <sched.h>

namespace {

bool startsRealTimeThread()
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    sched_param const priority{.sched_priority = realTimePriority};
    pthread_t thread;
    bool const started = pthread_attr_setschedpolicy(&attributes, SCHED_FIFO) == 0 &&
                         pthread_attr_setschedparam(&attributes, &priority) == 0 &&
                         pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED) == 0 &&
                         pthread_create(&thread, &attributes, [](void*) -> void* { return nullptr; }, nullptr) == 0;
    if (started)
        pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return started;
}

}  // namespace

bool realTimeAllowed()
{
    static bool const allowed = startsRealTimeThread();
    return allowed;
}
