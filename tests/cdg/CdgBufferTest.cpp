#include "cdg/CdgBuffer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace vantrel {
namespace {

TEST(CdgBuffer, TakeAllJoinsTheBlocksInOrderAndEmptiesTheQueue)
{
    TCdgBuffer buffer;
    std::unique_ptr<std::uint8_t[]> packs;
    EXPECT_EQ(buffer.TakeAll(packs), 0u);
    EXPECT_EQ(packs, nullptr);

    std::vector<std::uint8_t> data(5 * kCdgPackBytes);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(buffer.Put(data.data(), 2));
    ASSERT_TRUE(buffer.Put(data.data() + 2 * kCdgPackBytes, 3));
    EXPECT_EQ(buffer.Count(), 2u);
    ASSERT_EQ(buffer.TakeAll(packs), 5u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), packs.get()));
    EXPECT_EQ(buffer.TakeAll(packs), 0u);

    buffer.Put(data.data(), 1);
    buffer.ClearPacks();
    EXPECT_EQ(buffer.TakeAll(packs), 0u);
}

TEST(CdgBuffer, ReaderAndWriterThreadsLoseNothing)
{
    TCdgBuffer buffer;
    constexpr int kBlocks = 2000;
    std::thread writer([&] {
        std::uint8_t pack[kCdgPackBytes * 4];
        for (int i = 0; i < kBlocks; ++i) {
            std::fill(std::begin(pack), std::end(pack), static_cast<std::uint8_t>(i));
            buffer.Put(pack, 4);
        }
    });
    std::size_t total = 0;
    int expected = 0;
    bool ordered = true;
    while (total < kBlocks * 4u) {
        std::unique_ptr<std::uint8_t[]> packs;
        const std::size_t n = buffer.TakeAll(packs);
        for (std::size_t p = 0; p < n; p += 4, ++expected)
            ordered = ordered && packs[p * kCdgPackBytes] == static_cast<std::uint8_t>(expected);
        total += n;
    }
    writer.join();
    EXPECT_EQ(total, kBlocks * 4u);
    EXPECT_TRUE(ordered);
}

} // namespace
} // namespace vantrel
