#include "platform/RequestQueue.h"

namespace vantrel::platform {

void RequestQueue::Open()
{
    std::scoped_lock lock(mutex_);
    serving_ = true;
}

void RequestQueue::Close()
{
    std::scoped_lock lock(mutex_);
    serving_ = false;
    queue_.Clear(); // sets the events of requests that will never be served
}

bool RequestQueue::Serving() const
{
    std::scoped_lock lock(mutex_);
    return serving_;
}

RequestQueue::Sent RequestQueue::Send(std::uint32_t msg, std::intptr_t argument, std::chrono::milliseconds wait)
{
    Event* handled = nullptr;
    {
        std::scoped_lock lock(mutex_);
        if (!serving_)
            return Sent::NoWorker;
        handled = events_.emplace_back(std::make_unique<Event>(Event::Reset::Auto)).get();
        queue_.Post(msg, 0, argument, handled);
    }
    return handled->WaitFor(wait) ? Sent::Handled : Sent::TimedOut;
}

void RequestQueue::Post(std::uint32_t msg, std::intptr_t argument)
{
    queue_.Post(msg, 0, argument);
}

void RequestQueue::Forget()
{
    std::scoped_lock lock(mutex_);
    events_.clear();
}

} // namespace vantrel::platform
