#include "cdg/ExtractQ.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "vdrive/codec/SubLayout.h"

namespace vantrel {
namespace {

// Q frames written into bit 6 of raw bytes whose other bits are noise come back whole.
TEST(ExtractQ, GathersBitSixOfEachByteInOrder)
{
    using Frame = std::array<std::uint8_t, 12>;
    const Frame frames[] = {
        {},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0x80, 0x01, 0x40, 0x02, 0x20, 0x04, 0x10, 0x08, 0xAA, 0x55, 0xF0, 0x0F},
        {0x01, 0x01, 0x01, 0x00, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x7A, 0x3C},
    };
    std::mt19937 random(5);
    for (const Frame& q : frames) {
        std::array<std::uint8_t, 96> raw;
        for (std::uint8_t& byte : raw)
            byte = static_cast<std::uint8_t>(random());
        vdrive::PutQ(raw.data(), q.data());
        Frame out{};
        ExtractQ(raw.data(), out.data());
        EXPECT_EQ(out, q);
    }
}

} // namespace
} // namespace vantrel
