#include "platform/Event.h"

namespace vantrel::platform {

Event::Event(Reset reset, bool initiallySet) : reset_(reset), set_(initiallySet) {}

void Event::Set()
{
    // Notified under the lock: a waiter that wakes and destroys the event at once must not
    // find the notification still running on a dead condition variable.
    std::scoped_lock lock(mutex_);
    set_ = true;
    if (reset_ == Reset::Auto)
        cv_.notify_one();
    else
        cv_.notify_all();
}

void Event::ResetEvent()
{
    std::scoped_lock lock(mutex_);
    set_ = false;
}

void Event::Wait()
{
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
    if (reset_ == Reset::Auto)
        set_ = false;
}

bool Event::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return set_; }))
        return false;
    if (reset_ == Reset::Auto)
        set_ = false;
    return true;
}

bool Event::IsSet() const
{
    std::scoped_lock lock(mutex_);
    return set_;
}

} // namespace vantrel::platform
