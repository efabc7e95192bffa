// The process-wide main loop of host mode: tasks from any thread and repeating timers, run one at a
// time on the thread that calls run(). It runs once per process.
#pragma once

#include <functional>

namespace mainloop {

// Runs queued tasks and due timers until quit(); returns at once when quit() came first.
void run();
// Queues a task; any thread.
void post(std::function<void()> task);
// Adds a timer that fires every `ms` milliseconds, first one period from now; any thread.
void every(int ms, std::function<void()> action);
// Stops the loop at its next check; the task that is running finishes; any thread.
void quit();

}  // namespace mainloop
