// A hidden message window: any thread posts a message with two parameters, and the
// window procedure runs only on the thread that created the window, when that thread
// pumps. The Qt event loop pumps through the wake hook; tests pump explicitly.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/Message.h"

namespace vantrel::platform {

class MessageWindow {
public:
    using WindowProc = std::function<void(const Message&)>;
    using WakeHook = std::function<void()>;

    // The calling thread becomes the owner.
    explicit MessageWindow(WindowProc proc);
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    // Any thread. Queues the message and calls the wake hook, if any, on the posting thread.
    void Post(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // Owner thread only: runs the window procedure for every message waiting now and
    // returns how many ran. Off the owner thread it does nothing and returns 0.
    std::size_t Pump();
    // Owner thread only: waits up to timeout for a first message, then pumps.
    std::size_t PumpFor(std::chrono::milliseconds timeout);

    // Called (on the posting thread) after every post; an event loop uses it to
    // schedule a Pump on the owner thread. Set it before other threads post.
    void SetWakeHook(WakeHook hook);

    bool IsOwnerThread() const { return std::this_thread::get_id() == owner_; }
    std::size_t Waiting() const;

private:
    const std::thread::id owner_;
    const WindowProc proc_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Message> queue_;
    WakeHook wake_;
};

} // namespace vantrel::platform
