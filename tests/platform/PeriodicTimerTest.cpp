#include "platform/PeriodicTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Event.h"

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(PeriodicTimer, TicksAboutOnceAPeriodOnItsOwnThread)
{
    PeriodicTimer timer;
    std::atomic<int> ticks{0};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    ASSERT_TRUE(timer.Start(10, [&] {
        ++ticks;
        if (std::this_thread::get_id() == caller)
            onCaller = true;
    }));
    std::this_thread::sleep_for(1s);
    timer.Stop();
    // 100 ticks are due; the bound is generous for a loaded machine but catches a
    // timer that drifts by whole periods or fires in bursts.
    EXPECT_GE(ticks.load(), 70);
    EXPECT_LE(ticks.load(), 101);
    EXPECT_FALSE(onCaller.load());
}

TEST(PeriodicTimer, NoTickAfterStopReturns)
{
    PeriodicTimer timer;
    std::atomic<int> ticks{0};
    ASSERT_TRUE(timer.Start(1, [&] { ++ticks; }));
    std::this_thread::sleep_for(30ms);
    timer.Stop();
    EXPECT_FALSE(timer.Running());
    const int atStop = ticks.load();
    EXPECT_GT(atStop, 0);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(ticks.load(), atStop);
}

TEST(PeriodicTimer, RestartTakesTheNewPeriodAndCallback)
{
    PeriodicTimer timer;
    std::atomic<int> first{0}, second{0};
    ASSERT_TRUE(timer.Start(5, [&] { ++first; }));
    std::this_thread::sleep_for(30ms);
    ASSERT_TRUE(timer.Start(20, [&] { ++second; }));
    const int firstAtRestart = first.load();
    EXPECT_EQ(timer.Period(), 20u);
    std::this_thread::sleep_for(110ms);
    timer.Stop();
    EXPECT_EQ(first.load(), firstAtRestart);
    EXPECT_GE(second.load(), 2);
    EXPECT_LE(second.load(), 6);
}

TEST(PeriodicTimer, RefusesPeriodZeroAndEmptyCallback)
{
    PeriodicTimer timer;
    EXPECT_FALSE(timer.Start(0, [] {}));
    EXPECT_FALSE(timer.Start(10, nullptr));
    EXPECT_FALSE(timer.Running());
}

TEST(PeriodicTimer, StopFromTheCallbackEndsTheTimer)
{
    PeriodicTimer timer;
    std::atomic<int> ticks{0};
    Event stopped;
    ASSERT_TRUE(timer.Start(2, [&] {
        if (++ticks == 3) {
            timer.Stop();
            stopped.Set();
        }
    }));
    ASSERT_TRUE(stopped.WaitFor(5s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks.load(), 3);
    timer.Stop(); // the owner joins the finished thread
}

TEST(TickCount, AdvancesWithTime)
{
    const std::uint32_t before = TickCount();
    std::this_thread::sleep_for(50ms);
    const std::uint32_t elapsed = TickCount() - before; // wraps like the system tick
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 1000u);
}

} // namespace
} // namespace vantrel::platform
