#include "drive/KsParagraphBoundaryBuffer.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

static_assert(!std::is_copy_constructible_v<TKsParagraphBoundaryBuffer>);
static_assert(std::is_nothrow_move_constructible_v<TKsParagraphBoundaryBuffer>);

bool Aligned(const std::byte* data)
{
    return reinterpret_cast<std::uintptr_t>(data) % 32 == 0;
}

TEST(KsParagraphBoundaryBuffer, DataIsAlignedAndTheWholeSizeIsUsable)
{
    for (const std::size_t size : {1u, 16u, 31u, 32u, 33u, 2352u, 2352u * 27u}) {
        // Several at once so that the heap hands out differently placed blocks.
        TKsParagraphBoundaryBuffer buffers[] = {TKsParagraphBoundaryBuffer(size), TKsParagraphBoundaryBuffer(size + 1),
                                                TKsParagraphBoundaryBuffer(size)};
        for (TKsParagraphBoundaryBuffer& buffer : buffers) {
            ASSERT_FALSE(buffer.Empty());
            EXPECT_TRUE(Aligned(buffer.Data())) << size;
            // Filling to the last byte stays inside the allocation (the sanitizer build checks).
            std::memset(buffer.Data(), 0xA5, buffer.Size());
            EXPECT_EQ(buffer.Data()[buffer.Size() - 1], std::byte{0xA5});
        }
        EXPECT_EQ(buffers[0].Size(), size);
        EXPECT_EQ(buffers[1].Size(), size + 1);
    }
}

TEST(KsParagraphBoundaryBuffer, ZeroOrImpossibleSizesGiveAnEmptyBuffer)
{
    const std::size_t max = std::numeric_limits<std::size_t>::max();
    for (const std::size_t size :
         {std::size_t{0}, max, max - 30, std::size_t{std::numeric_limits<std::ptrdiff_t>::max()}}) {
        const TKsParagraphBoundaryBuffer buffer(size);
        EXPECT_TRUE(buffer.Empty()) << size;
        EXPECT_EQ(buffer.Data(), nullptr) << size;
        EXPECT_EQ(buffer.Size(), 0u) << size;
    }
    EXPECT_TRUE(TKsParagraphBoundaryBuffer().Empty());
}

TEST(KsParagraphBoundaryBuffer, MovingHandsOverTheMemory)
{
    TKsParagraphBoundaryBuffer first(100);
    std::byte* const data = first.Data();
    data[99] = std::byte{7};

    TKsParagraphBoundaryBuffer second(std::move(first));
    EXPECT_TRUE(first.Empty());
    EXPECT_EQ(first.Size(), 0u);
    EXPECT_EQ(second.Data(), data);
    EXPECT_EQ(second.Size(), 100u);

    TKsParagraphBoundaryBuffer third(10);
    third = std::move(second);
    EXPECT_TRUE(second.Empty());
    EXPECT_EQ(third.Data(), data);
    EXPECT_EQ(third.Data()[99], std::byte{7});
}

} // namespace
} // namespace vantrel
