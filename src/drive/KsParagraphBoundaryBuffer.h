// A heap buffer whose usable start lies on a 32-byte boundary, for sector transfers and
// sample blocks that want aligned memory. It allocates 31 bytes more than asked and
// starts at the first aligned address inside; when allocation fails it is empty.
#pragma once

#include <cstddef>
#include <memory>

namespace vantrel {

class TKsParagraphBoundaryBuffer {
public:
    static constexpr std::size_t kAlignment = 32;

    TKsParagraphBoundaryBuffer() = default;
    // A size of 0, or one that cannot be allocated, gives an empty buffer.
    explicit TKsParagraphBoundaryBuffer(std::size_t size);

    TKsParagraphBoundaryBuffer(TKsParagraphBoundaryBuffer&& other) noexcept;
    TKsParagraphBoundaryBuffer& operator=(TKsParagraphBoundaryBuffer&& other) noexcept;
    TKsParagraphBoundaryBuffer(const TKsParagraphBoundaryBuffer&) = delete;
    TKsParagraphBoundaryBuffer& operator=(const TKsParagraphBoundaryBuffer&) = delete;

    std::byte* Data() { return data_; }
    const std::byte* Data() const { return data_; }
    std::size_t Size() const { return size_; } // 0 when empty
    bool Empty() const { return data_ == nullptr; }

private:
    std::unique_ptr<std::byte[]> storage_;
    std::byte* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace vantrel
