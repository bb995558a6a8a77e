#include "drive/CdAddress.h"

#include <bit>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

constexpr TCdAddress Msf(int minute, int second, int frame)
{
    return TCdAddress{0, static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second),
                      static_cast<std::uint8_t>(frame)};
}

// The helpers are meant for constant tables too.
static_assert(AddressToFrames(MakeAddress(0, 2, 0)) == kLeadInFrames);
static_assert(FramesToLba(150) == 0);

TEST(CdAddress, WordHoldsMinuteSecondFrameAboveTheReservedByte)
{
    EXPECT_EQ(MakeAddress(1, 2, 3), 0x03020100u);
    const TCdAddress address = TCdAddress::FromWord(0x4A3B2C1Du);
    EXPECT_EQ(address.reserved, 0x1D);
    EXPECT_EQ(address.minute, 0x2C);
    EXPECT_EQ(address.second, 0x3B);
    EXPECT_EQ(address.frame, 0x4A);
    EXPECT_EQ(address.Word(), 0x4A3B2C1Du);
    // The word is the record's bytes read as a little-endian number, as drives deliver them.
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t memory = 0;
        std::memcpy(&memory, &address, sizeof memory);
        EXPECT_EQ(memory, address.Word());
    }
}

TEST(CdAddress, AddressToFramesCountsFromAbsoluteZero)
{
    const std::pair<TCdAddress, std::int64_t> cases[] = {
        {Msf(0, 0, 0), 0},       {Msf(0, 2, 0), 150},         {Msf(0, 59, 74), 4499}, {Msf(3, 0, 0), 13500},
        {Msf(74, 0, 0), 333000}, {Msf(255, 59, 74), 1151999}, {Msf(1, 0, 1), 4501},
    };
    for (const auto& [address, frames] : cases) {
        EXPECT_EQ(AddressToFrames(address), frames) << frames;
        EXPECT_EQ(AddressToFrames(address.Word()), frames) << frames;
    }
}

TEST(CdAddress, FramesToAddressClampsToTheRangeAByteCanHold)
{
    const std::pair<std::int64_t, TCdAddress> cases[] = {
        {0, Msf(0, 0, 0)},
        {150, Msf(0, 2, 0)},
        {4499, Msf(0, 59, 74)},
        {4500, Msf(1, 0, 0)},
        {13500, Msf(3, 0, 0)},
        {1151999, Msf(255, 59, 74)},
        {1152000, Msf(255, 59, 74)}, // minute 256 must not wrap to 0
        {std::numeric_limits<std::int64_t>::max(), Msf(255, 59, 74)},
        {-1, Msf(0, 0, 0)},
        {-4500, Msf(0, 0, 0)},
        {std::numeric_limits<std::int64_t>::min(), Msf(0, 0, 0)},
    };
    for (const auto& [frames, address] : cases) {
        EXPECT_EQ(FramesToCdAddress(frames), address) << frames;
        EXPECT_EQ(FramesToAddress(frames), address.Word()) << frames;
    }
}

TEST(CdAddress, FramesSurviveTheRoundTrip)
{
    for (const std::int64_t frames :
         {0, 1, 74, 75, 149, 150, 4499, 4500, 13350, 333000, 404999, 405000, 409498, 1151998, 1151999}) {
        EXPECT_EQ(AddressToFrames(FramesToAddress(frames)), frames);
        EXPECT_EQ(AddressToFrames(FramesToCdAddress(frames)), frames);
    }
}

TEST(CdAddress, LbaIsSectorNumberWithNegativeLeadInFromMinute90)
{
    const std::pair<std::int64_t, std::int32_t> cases[] = {
        {150, 0},
        {149, -1},
        {0, -150},
        {151, 1},
        {404999, 404849},
        {405000, -45150},
        {409498, -40652},
        {409499, 0},
        {1000000, 0},
        {-1, 0},
        {std::numeric_limits<std::int64_t>::min(), 0},
        {std::numeric_limits<std::int64_t>::max(), 0},
    };
    for (const auto& [frames, lba] : cases)
        EXPECT_EQ(FramesToLba(frames), lba) << frames;
}

TEST(CdAddress, BcdToBinWeighsTheHighNibbleByTen)
{
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {
        {0x00, 0}, {0x09, 9}, {0x10, 10}, {0x59, 59}, {0x74, 74}, {0x99, 99}, {0x0A, 10}, {0xFF, 165},
    };
    for (const auto& [bcd, bin] : cases)
        EXPECT_EQ(BcdToBin(bcd), bin) << int{bcd};
}

} // namespace
} // namespace vantrel
