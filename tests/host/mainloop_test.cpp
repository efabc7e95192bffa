// The main loop is process-wide and runs once, so every test here runs in a process of its own.
#include "host/mainloop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> seen;

void record(std::string what)
{
    seen.push_back(std::move(what));
}

}  // namespace

TEST(MainLoop, TasksRunInOrderWithoutWaitingThenDueTimersInTheirOrder)
{
    mainloop::every(0, [] { record("timer 1"); });
    mainloop::every(0, [] {
        record("timer 2");
        mainloop::quit();
    });
    mainloop::post([] {
        record("a");
        mainloop::post([] { record("posted by a"); });
    });
    mainloop::post([] { record("b"); });
    auto const start = Clock::now();
    mainloop::run();
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "posted by a", "timer 1", "timer 2"}));
    EXPECT_LT(Clock::now() - start, 500ms);
}

TEST(MainLoop, TasksQueuedBehindQuitAreDroppedAndNoTimerFires)
{
    mainloop::every(0, [] { record("timer"); });
    mainloop::post([] { record("before"); mainloop::quit(); record("quit task ends"); });
    mainloop::post([] { record("after"); });
    mainloop::run();
    EXPECT_EQ(seen, (std::vector<std::string>{"before", "quit task ends"}));
}

TEST(MainLoop, TimerFiresEveryPeriodFromRegistrationAndOnlyOnceWhenOverdue)
{
    std::vector<Clock::time_point> firings;
    auto const start = Clock::now();
    mainloop::every(40, [&] {
        firings.push_back(Clock::now());
        if (firings.size() == 2)  // holds the loop for five periods
            mainloop::post([] { std::this_thread::sleep_for(200ms); });
        if (firings.size() == 4)
            mainloop::quit();
    });
    mainloop::run();
    ASSERT_EQ(firings.size(), 4u);
    EXPECT_GE(firings[0] - start, 40ms);
    for (std::size_t i = 1; i < firings.size(); ++i)
        EXPECT_GE(firings[i] - firings[i - 1], 40ms) << i;
    EXPECT_LT(firings[3] - start, 5s);
}

TEST(MainLoop, ATaskOrAQuitFromAnotherThreadEndsALongWait)
{
    mainloop::every(60'000, [] { record("never"); });
    std::thread other([] {
        std::this_thread::sleep_for(50ms);
        mainloop::post([] { record("from thread"); });
        std::this_thread::sleep_for(50ms);
        mainloop::quit();
    });
    auto const start = Clock::now();
    mainloop::run();
    other.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"from thread"}));
    EXPECT_LT(Clock::now() - start, 900ms);
}

TEST(MainLoop, ManyThreadsPostingLoseNoTask)
{
    std::atomic<int> ran{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                mainloop::post([&] { ++ran; });
        });
    for (auto& poster : posters)
        poster.join();
    mainloop::post([] { mainloop::quit(); });
    mainloop::run();
    EXPECT_EQ(ran, 4000);
}
