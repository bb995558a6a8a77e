#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(Event, AutoResetReleasesOneWaitThenClosesAgain)
{
    Event event(Event::Reset::Auto, true);
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.WaitFor(20ms));
    EXPECT_FALSE(event.IsSet());
}

TEST(Event, ManualResetStaysSetUntilReset)
{
    Event event(Event::Reset::Manual);
    EXPECT_FALSE(event.WaitFor(10ms));
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_TRUE(event.WaitFor(0ms));
    event.ResetEvent();
    EXPECT_FALSE(event.WaitFor(0ms));
}

TEST(Event, SetOnAnotherThreadWakesTheWaiter)
{
    Event event;
    std::atomic<bool> before{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        before = true;
        event.Set();
    });
    event.Wait();
    EXPECT_TRUE(before.load());
    setter.join();
}

TEST(Event, ManualResetReleasesEveryWaiter)
{
    Event event(Event::Reset::Manual);
    std::atomic<int> released{0};
    std::thread waiters[3];
    for (auto& t : waiters)
        t = std::thread([&] {
            if (event.WaitFor(5s))
                ++released;
        });
    std::this_thread::sleep_for(20ms);
    event.Set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 3);
}

} // namespace
} // namespace vantrel::platform
