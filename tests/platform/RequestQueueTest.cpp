// Requests to a worker thread: refused without a worker, answered once handled, given up
// after their time-out, and released when the worker stops serving.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/RequestQueue.h"

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;
using Sent = RequestQueue::Sent;

constexpr std::uint32_t kAdd = 1, kQuit = 2;

TEST(RequestQueue, AWorkerAnswersEachRequestAfterHandlingIt)
{
    RequestQueue requests;
    EXPECT_EQ(requests.Send(kAdd, 1, 10ms), Sent::NoWorker) << "nobody serves yet";

    requests.Open();
    int sum = 0; // only the worker writes it, and only before it answers
    std::thread worker([&] {
        for (;;) {
            const Message message = requests.Queue().Get();
            if (message.msg == kAdd)
                sum += static_cast<int>(message.lParam);
            ThreadMessageQueue::Complete(message);
            if (message.msg == kQuit)
                break;
        }
        requests.Close();
    });
    // Two senders at once, each waiting for its own answers.
    std::vector<std::thread> senders;
    std::atomic<int> answered{0};
    for (int s = 0; s < 2; ++s)
        senders.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                answered += requests.Send(kAdd, 1, 10s) == Sent::Handled;
        });
    for (std::thread& t : senders)
        t.join();
    EXPECT_EQ(answered, 100);
    EXPECT_EQ(requests.Send(kQuit, 0, 10s), Sent::Handled);
    worker.join();
    EXPECT_EQ(sum, 100);
    EXPECT_FALSE(requests.Serving());
    EXPECT_EQ(requests.Send(kAdd, 1, 10ms), Sent::NoWorker) << "the worker has stopped serving";
    requests.Forget();
}

TEST(RequestQueue, ARequestNotServedInTimeIsGivenUpAndCloseReleasesTheRest)
{
    RequestQueue requests;
    requests.Open();
    EXPECT_EQ(requests.Send(kAdd, 1, 20ms), Sent::TimedOut) << "the worker is busy elsewhere";

    std::atomic<bool> waiting{false};
    Sent late = Sent::NoWorker;
    std::thread sender([&] {
        waiting = true;
        late = requests.Send(kAdd, 2, 60s);
    });
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(20ms);
    requests.Close(); // the worker ends without serving: nobody may wait for it
    sender.join();
    EXPECT_EQ(late, Sent::Handled);
    EXPECT_FALSE(requests.Queue().Peek(false)) << "the requests left were dropped";
    requests.Forget();
}

} // namespace
} // namespace vantrel::platform
