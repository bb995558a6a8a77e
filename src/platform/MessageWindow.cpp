#include "platform/MessageWindow.h"

#include <utility>

namespace vantrel::platform {

MessageWindow::MessageWindow(WindowProc proc) : owner_(std::this_thread::get_id()), proc_(std::move(proc)) {}

void MessageWindow::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    WakeHook wake;
    {
        std::scoped_lock lock(mutex_);
        queue_.push_back(Message{msg, wParam, lParam, nullptr});
        wake = wake_;
    }
    cv_.notify_one();
    if (wake)
        wake();
}

std::size_t MessageWindow::Pump()
{
    if (!IsOwnerThread())
        return 0;
    // Only what is waiting now: messages the procedure posts itself run on the next pump.
    std::deque<Message> batch;
    {
        std::scoped_lock lock(mutex_);
        batch.swap(queue_);
    }
    for (const Message& m : batch)
        if (proc_)
            proc_(m);
    return batch.size();
}

std::size_t MessageWindow::PumpFor(std::chrono::milliseconds timeout)
{
    if (!IsOwnerThread())
        return 0;
    {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
    }
    return Pump();
}

void MessageWindow::SetWakeHook(WakeHook hook)
{
    std::scoped_lock lock(mutex_);
    wake_ = std::move(hook);
}

std::size_t MessageWindow::Waiting() const
{
    std::scoped_lock lock(mutex_);
    return queue_.size();
}

} // namespace vantrel::platform
