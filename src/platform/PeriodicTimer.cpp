#include "platform/PeriodicTimer.h"

#include <utility>

namespace vantrel::platform {

PeriodicTimer::~PeriodicTimer()
{
    Stop();
}

bool PeriodicTimer::Start(std::uint32_t periodMs, Callback callback)
{
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id())
        return false; // a thread cannot replace itself
    Stop();
    if (periodMs == 0 || !callback)
        return false;
    std::scoped_lock lock(mutex_);
    stop_ = false;
    periodMs_ = periodMs;
    callback_ = std::move(callback);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PeriodicTimer::Stop()
{
    {
        std::scoped_lock lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

bool PeriodicTimer::Running() const
{
    std::scoped_lock lock(mutex_);
    return thread_.joinable() && !stop_;
}

std::uint32_t PeriodicTimer::Period() const
{
    std::scoped_lock lock(mutex_);
    return periodMs_;
}

void PeriodicTimer::Run()
{
    using clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);
    const auto period = std::chrono::milliseconds(periodMs_);
    auto next = clock::now() + period;
    while (!stop_) {
        if (cv_.wait_until(lock, next, [this] { return stop_; }))
            break;
        lock.unlock();
        callback_(); // callback_ is only replaced while no thread runs
        lock.lock();
        next += period;
        // After a long stall, resume the rhythm from now instead of firing a burst.
        const auto now = clock::now();
        if (next + period < now)
            next = now + period;
    }
}

std::uint32_t TickCount()
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

} // namespace vantrel::platform
