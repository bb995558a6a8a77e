#include "platform/ThreadMessageQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(ThreadMessageQueue, MessagesFromAnotherThreadArriveInOrder)
{
    ThreadMessageQueue queue;
    constexpr int kCount = 2000;
    std::thread poster([&] {
        for (int i = 0; i < kCount; ++i)
            queue.Post(WM_APP + 0x20, static_cast<std::uintptr_t>(i), -i);
    });
    for (int i = 0; i < kCount; ++i) {
        const Message m = queue.Get();
        ASSERT_EQ(m.msg, WM_APP + 0x20);
        ASSERT_EQ(m.wParam, static_cast<std::uintptr_t>(i));
        ASSERT_EQ(m.lParam, -i);
    }
    poster.join();
    EXPECT_TRUE(queue.Empty());
}

TEST(ThreadMessageQueue, RequestEventIsSetOnlyAfterTheWorkerHandledIt)
{
    ThreadMessageQueue queue;
    std::atomic<int> handledValue{0};
    std::thread worker([&] {
        for (;;) {
            const Message m = queue.Get();
            if (m.msg == 0)
                break;
            std::this_thread::sleep_for(5ms); // the requester must not run ahead of this
            handledValue = static_cast<int>(m.wParam);
            ThreadMessageQueue::Complete(m);
        }
    });
    Event done(Event::Reset::Auto);
    for (int i = 1; i <= 5; ++i) {
        queue.Post(WM_APP + 0x21, static_cast<std::uintptr_t>(i), 0, &done);
        ASSERT_TRUE(done.WaitFor(5s));
        EXPECT_EQ(handledValue.load(), i);
        EXPECT_FALSE(done.IsSet()) << "an auto-reset event is consumed by the wait";
    }
    queue.Post(0);
    worker.join();
}

TEST(ThreadMessageQueue, PeekLeavesOrTakesTheFirstMessage)
{
    ThreadMessageQueue queue;
    EXPECT_FALSE(queue.Peek(false).has_value());
    queue.Post(1);
    queue.Post(2);
    EXPECT_EQ(queue.Peek(false)->msg, 1u);
    EXPECT_EQ(queue.Peek(true)->msg, 1u);
    EXPECT_EQ(queue.Peek(true)->msg, 2u);
    EXPECT_FALSE(queue.Peek(true).has_value());
}

TEST(ThreadMessageQueue, GetForTimesOutOnAnEmptyQueue)
{
    ThreadMessageQueue queue;
    EXPECT_FALSE(queue.GetFor(20ms).has_value());
    queue.Post(7);
    EXPECT_EQ(queue.GetFor(20ms)->msg, 7u);
}

TEST(ThreadMessageQueue, ClearReleasesWaitingRequesters)
{
    ThreadMessageQueue queue;
    Event done;
    queue.Post(1, 0, 0, &done);
    queue.Clear();
    EXPECT_TRUE(queue.Empty());
    EXPECT_TRUE(done.WaitFor(0ms));
}

} // namespace
} // namespace vantrel::platform
