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

TEST(MainLoop, RunAfterQuitReturnsWithoutRunningAnything)
{
    mainloop::post([] { record("task"); });
    mainloop::every(0, [] { record("timer"); });
    mainloop::quit();
    mainloop::run();
    EXPECT_TRUE(seen.empty());
}

TEST(MainLoop, TasksPostedBeforeRunRunInOrderWithoutWaiting)
{
    mainloop::post([] { record("a"); });
    mainloop::post([] { record("b"); });
    mainloop::post([] { mainloop::quit(); });
    auto const start = Clock::now();
    mainloop::run();
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
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

TEST(MainLoop, TasksPostedByATaskJoinThePhaseBeforeTimers)
{
    mainloop::every(0, [] {
        record("timer");
        mainloop::quit();
    });
    mainloop::post([] {
        record("first");
        mainloop::post([] { record("posted by first"); });
    });
    mainloop::post([] { record("second"); });
    mainloop::run();
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "posted by first", "timer"}));
}

TEST(MainLoop, DueTimersFireInRegistrationOrder)
{
    mainloop::every(0, [] { record("first"); });
    mainloop::every(0, [] { record("second"); });
    mainloop::every(0, [] { mainloop::quit(); });
    mainloop::run();
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
}

TEST(MainLoop, TimerFiresOnePeriodAfterRegistrationAndRepeats)
{
    std::vector<Clock::time_point> firings;
    auto const start = Clock::now();
    mainloop::every(40, [&] {
        firings.push_back(Clock::now());
        if (firings.size() == 3)
            mainloop::quit();
    });
    mainloop::run();
    ASSERT_EQ(firings.size(), 3u);
    EXPECT_GE(firings[0] - start, 40ms);
    EXPECT_GE(firings[1] - firings[0], 40ms);
    EXPECT_GE(firings[2] - firings[1], 40ms);
    EXPECT_LT(firings[2] - start, 5s);
}

TEST(MainLoop, OverdueTimerFiresOnceNotOncePerMissedPeriod)
{
    int fired = 0;
    mainloop::every(10, [&] { ++fired; });
    mainloop::post([] { std::this_thread::sleep_for(120ms); });
    mainloop::post([&] {});
    // After the long task the timer is due once; it re-arms 10 ms ahead, so this pass sees one firing.
    mainloop::every(0, [&] { mainloop::quit(); });
    mainloop::run();
    EXPECT_EQ(fired, 1);
}

TEST(MainLoop, QuitFromAnotherThreadEndsALongWait)
{
    mainloop::every(60'000, [] { record("never"); });
    std::thread stopper([] {
        std::this_thread::sleep_for(50ms);
        mainloop::quit();
    });
    auto const start = Clock::now();
    mainloop::run();
    stopper.join();
    EXPECT_LT(Clock::now() - start, 900ms);
    EXPECT_TRUE(seen.empty());
}

TEST(MainLoop, TaskPostedFromAnotherThreadWakesTheLoop)
{
    std::thread poster([] {
        std::this_thread::sleep_for(50ms);
        mainloop::post([] {
            record("from thread");
            mainloop::quit();
        });
    });
    auto const start = Clock::now();
    mainloop::run();
    poster.join();
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

TEST(MainLoop, EscapingExceptionLeavesRunAndKeepsTheRestQueued)
{
    mainloop::post([] { throw std::runtime_error("boom"); });
    mainloop::post([] { record("left queued"); });
    EXPECT_THROW(mainloop::run(), std::runtime_error);
    EXPECT_TRUE(seen.empty());
    mainloop::post([] { mainloop::quit(); });
    mainloop::run();
    EXPECT_EQ(seen, (std::vector<std::string>{"left queued"}));
}
