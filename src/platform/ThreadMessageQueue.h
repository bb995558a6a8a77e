// The message queue of a worker thread: any thread posts requests, the worker takes
// them in order with a blocking get or a peek. A request may carry an auto-reset event
// that the worker sets once it has handled the request (call Complete).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/Message.h"

namespace vantrel::platform {

class ThreadMessageQueue {
public:
    // Any thread.
    void Post(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0, Event* handled = nullptr);
    void Post(const Message& message);

    // The owning thread: blocks until a message arrives.
    Message Get();
    // The owning thread: waits at most timeout; nothing when none arrived.
    std::optional<Message> GetFor(std::chrono::milliseconds timeout);
    // The owning thread: the first waiting message, removed when remove is true.
    std::optional<Message> Peek(bool remove);

    bool Empty() const;
    // Drops every waiting message, setting their events so no requester waits forever.
    void Clear();

    // Tells the requester that message has been handled.
    static void Complete(const Message& message);

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Message> queue_;
};

} // namespace vantrel::platform
