#include "platform/ThreadMessageQueue.h"

#include "platform/Event.h"

namespace vantrel::platform {

void ThreadMessageQueue::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam, Event* handled)
{
    Post(Message{msg, wParam, lParam, handled});
}

void ThreadMessageQueue::Post(const Message& message)
{
    {
        std::scoped_lock lock(mutex_);
        queue_.push_back(message);
    }
    cv_.notify_one();
}

Message ThreadMessageQueue::Get()
{
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return !queue_.empty(); });
    Message m = queue_.front();
    queue_.pop_front();
    return m;
}

std::optional<Message> ThreadMessageQueue::GetFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return !queue_.empty(); }))
        return std::nullopt;
    Message m = queue_.front();
    queue_.pop_front();
    return m;
}

std::optional<Message> ThreadMessageQueue::Peek(bool remove)
{
    std::scoped_lock lock(mutex_);
    if (queue_.empty())
        return std::nullopt;
    Message m = queue_.front();
    if (remove)
        queue_.pop_front();
    return m;
}

bool ThreadMessageQueue::Empty() const
{
    std::scoped_lock lock(mutex_);
    return queue_.empty();
}

void ThreadMessageQueue::Clear()
{
    std::deque<Message> dropped;
    {
        std::scoped_lock lock(mutex_);
        dropped.swap(queue_);
    }
    for (const Message& m : dropped)
        Complete(m);
}

void ThreadMessageQueue::Complete(const Message& message)
{
    if (message.handled)
        message.handled->Set();
}

} // namespace vantrel::platform
