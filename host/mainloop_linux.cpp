// The main loop: one mutex over the task queue, the timers and the stop flag; one condition
// variable to wake the loop. Tasks and timer actions always run with the mutex released.
#include "host/mainloop.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace mainloop {
namespace {

struct Timer {
    std::int64_t period;  // ms
    std::int64_t due;     // steady-clock ns
    std::function<void()> action;
};

using Clock = std::chrono::steady_clock;

std::int64_t now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

std::mutex lock;
bool stopped = false;
std::condition_variable wake;
std::deque<std::function<void()>> tasks;
std::vector<Timer> timers;

std::int64_t deadlineOfPass()
{
    std::int64_t deadline = now() + 1'000'000'000;
    for (Timer const& timer : timers)
        if (timer.due < deadline)
            deadline = timer.due;
    return deadline;
}

// Waits until work arrives or the deadline passes; false when the loop was stopped meanwhile.
bool waitForWork(std::unique_lock<std::mutex>& held, std::int64_t deadline)
{
    Clock::time_point const until{std::chrono::nanoseconds(deadline)};
    while (!stopped && tasks.empty()) {
        wake.wait_until(held, until);
        if (now() >= deadline)
            return true;
        if (stopped)
            return false;
    }
    return true;
}

// Runs every queued task, those posted meanwhile included; false when the loop was stopped.
bool runTasks(std::unique_lock<std::mutex>& held)
{
    while (!tasks.empty()) {
        if (stopped)
            return false;
        std::function<void()> task = std::move(tasks.front());
        tasks.pop_front();
        held.unlock();
        task();
        held.lock();
    }
    return true;
}

// Fires every due timer, re-armed before its action runs; false when the loop was stopped.
bool runTimers(std::unique_lock<std::mutex>& held)
{
    for (std::size_t i = 0; i < timers.size(); ++i) {
        if (stopped)
            return false;
        if (timers[i].due > now())
            continue;
        timers[i].due = now() + timers[i].period * 1'000'000;
        std::function<void()> action = timers[i].action;
        held.unlock();
        action();
        held.lock();
    }
    return true;
}

}  // namespace

void run()
{
    std::unique_lock<std::mutex> held(lock);
    while (!stopped) {
        if (!waitForWork(held, deadlineOfPass()))
            return;
        if (!runTasks(held) || !runTimers(held))
            return;
    }
}

void post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> held(lock);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void every(int ms, std::function<void()> action)
{
    std::lock_guard<std::mutex> held(lock);
    timers.push_back(Timer{ms, now() + std::int64_t{ms} * 1'000'000, std::move(action)});
}

void quit()
{
    {
        std::lock_guard<std::mutex> held(lock);
        stopped = true;
    }
    wake.notify_one();
}

}  // namespace mainloop
