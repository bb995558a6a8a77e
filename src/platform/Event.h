// A waitable event with manual or automatic reset, as worker threads and their
// requesters use it: one side sets it, the other waits with an optional time-out.
// Safe to use from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vantrel::platform {

class Event {
public:
    enum class Reset { Manual, Auto };

    explicit Event(Reset reset = Reset::Auto, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void ResetEvent();
    // Blocks until the event is set; an auto-reset event is consumed by the wait.
    void Wait();
    // False when the time-out passed first.
    bool WaitFor(std::chrono::milliseconds timeout);
    bool IsSet() const;

private:
    const Reset reset_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;
};

} // namespace vantrel::platform
