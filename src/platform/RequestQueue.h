// Requests from controlling threads to one worker thread that serves them from its message
// queue: each request carries an event the worker sets once it has handled it, and the
// sender waits for that event with a time-out. Requests are refused while no worker serves.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "platform/ThreadMessageQueue.h"

namespace vantrel::platform {

// Worker side: Open before the worker starts, serve Queue() (Get or Peek, then
// ThreadMessageQueue::Complete), Close when it will serve no more. Sender side: Send from
// any thread. Forget once the worker has been joined.
class RequestQueue {
public:
    enum class Sent { Handled, NoWorker, TimedOut };

    // Requests are taken from now on.
    void Open();
    // No more requests are taken; those still waiting are dropped and their senders freed
    // (they see them as handled: there is nothing left to wait for).
    void Close();
    bool Serving() const;

    // Posts msg with argument as lParam and waits up to wait for the worker to handle it.
    Sent Send(std::uint32_t msg, std::intptr_t argument, std::chrono::milliseconds wait);
    // Posts msg without an event and without waiting, whether or not a worker serves.
    void Post(std::uint32_t msg, std::intptr_t argument = 0);

    ThreadMessageQueue& Queue() { return queue_; }

    // Frees the events of the requests sent so far. Only once the worker has ended: it may
    // set a request's event still after its sender has stopped waiting, and even after the
    // sender woke (while the worker is still inside Set).
    void Forget();

private:
    mutable std::mutex mutex_;
    bool serving_ = false;
    ThreadMessageQueue queue_;
    std::vector<std::unique_ptr<Event>> events_;
};

} // namespace vantrel::platform
