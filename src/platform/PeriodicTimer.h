// A periodic timer with 1 ms resolution: the callback runs on the timer's own thread
// every period, measured on the steady clock so late ticks do not drift the schedule.
// Start, Stop and the destructor belong to the owner thread; Stop joins the thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrel::platform {

class PeriodicTimer {
public:
    using Callback = std::function<void()>;

    PeriodicTimer() = default;
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Starts, or restarts with a new period and callback. False for a period of 0 or
    // an empty callback (the timer is then stopped), and when called from the callback.
    bool Start(std::uint32_t periodMs, Callback callback);
    // Stops and joins. From the callback itself it only asks the thread to end;
    // the owner's next Start, Stop or the destructor joins it.
    void Stop();

    // Owner thread.
    bool Running() const;
    std::uint32_t Period() const;

private:
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::uint32_t periodMs_ = 0;
    Callback callback_;
    std::thread thread_;
};

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick count.
std::uint32_t TickCount();

} // namespace vantrel::platform
