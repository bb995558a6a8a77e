#include "drive/KsParagraphBoundaryBuffer.h"

#include <cstdint>
#include <limits>
#include <new>
#include <utility>

namespace vantrel {

TKsParagraphBoundaryBuffer::TKsParagraphBoundaryBuffer(std::size_t size)
{
    constexpr std::size_t kSlack = kAlignment - 1;
    // Above this the slack would overflow the size, or new[] would refuse the length.
    constexpr std::size_t kLargest = std::numeric_limits<std::ptrdiff_t>::max() - kSlack;
    if (size == 0 || size > kLargest)
        return;
    storage_.reset(new (std::nothrow) std::byte[size + kSlack]);
    if (!storage_)
        return;
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.get());
    data_ = storage_.get() + ((kAlignment - address % kAlignment) % kAlignment);
    size_ = size;
}

TKsParagraphBoundaryBuffer::TKsParagraphBoundaryBuffer(TKsParagraphBoundaryBuffer&& other) noexcept
    : storage_(std::move(other.storage_)), data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0))
{
}

TKsParagraphBoundaryBuffer& TKsParagraphBoundaryBuffer::operator=(TKsParagraphBoundaryBuffer&& other) noexcept
{
    storage_ = std::move(other.storage_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    return *this;
}

} // namespace vantrel
