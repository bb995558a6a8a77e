#include "vdrive/codec/SubLayout.h"

#include <array>
#include <random>

#include <gtest/gtest.h>

namespace vantrel::vdrive {
namespace {

using Sector = std::array<std::uint8_t, kSubChannelBytes>;

std::array<std::uint8_t, 12> Channel(const Sector& channels, int index)
{
    std::array<std::uint8_t, 12> out{};
    std::copy_n(channels.begin() + 12 * index, 12, out.begin());
    return out;
}

TEST(SubLayout, RawCountingSectorSplitsIntoKnownChannels)
{
    // raw[i] = i: channel c takes bit 7 - c of the symbol numbers 0..95, eight per byte.
    Sector raw;
    for (std::size_t i = 0; i < raw.size(); ++i)
        raw[i] = static_cast<std::uint8_t>(i);
    Sector channels;
    RawToChannels(raw.data(), channels.data());

    using Bytes = std::array<std::uint8_t, 12>;
    const Bytes expected[8] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},                                     // P: bit 7, never set below 128
        {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},                         // Q: 64..95
        {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},                         // R: 32..63
        {0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF},                   // S
        {0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF},                   // T
        {0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F}, // U
        {0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}, // V
        {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}, // W
    };
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(Channel(channels, c), expected[c]) << "channel "
                                                     << "PQRSTUVW"[c];

    Sector back;
    ChannelsToRaw(channels.data(), back.data());
    EXPECT_EQ(back, raw);
}

TEST(SubLayout, RandomSectorsRoundTripBothWays)
{
    std::mt19937 random(7);
    for (int n = 0; n < 50; ++n) {
        Sector a, b, c;
        for (auto& byte : a)
            byte = static_cast<std::uint8_t>(random());
        RawToChannels(a.data(), b.data());
        ChannelsToRaw(b.data(), c.data());
        ASSERT_EQ(c, a);
        ChannelsToRaw(a.data(), b.data());
        RawToChannels(b.data(), c.data());
        ASSERT_EQ(c, a);
    }
}

TEST(SubLayout, QPAndRwShareTheRawBytesWithoutDisturbingEachOther)
{
    const std::array<std::uint8_t, 12> q = {0x41, 0x12, 0x00, 0x00, 0x01, 0x74, 0x00, 0x03, 0x59, 0x73, 0x05, 0x9A};
    Sector packs;
    for (std::size_t i = 0; i < packs.size(); ++i)
        packs[i] = static_cast<std::uint8_t>(i * 37 % 64);

    Sector raw;
    raw.fill(0xFF); // stale bits everywhere: every writer must set and clear its own
    PutRw(raw.data(), packs.data());
    PutQ(raw.data(), q.data());
    PutP(raw.data(), true);

    // q[0] = 0x41 = 0100 0001 lands in bit 6 of raw bytes 0..7.
    const std::uint8_t head[8] = {0x80, 0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0xC0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(raw[i] & 0xC0, head[i]) << i;

    std::array<std::uint8_t, 12> gotQ{};
    ExtractQ(raw.data(), gotQ.data());
    EXPECT_EQ(gotQ, q);
    Sector gotPacks;
    GetRw(raw.data(), gotPacks.data());
    EXPECT_EQ(gotPacks, packs);

    Sector channels;
    RawToChannels(raw.data(), channels.data());
    EXPECT_EQ(Channel(channels, 0),
              (std::array<std::uint8_t, 12>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Channel(channels, 1), q);

    PutP(raw.data(), false);
    for (std::size_t i = 0; i < raw.size(); ++i)
        ASSERT_EQ(raw[i] & 0x80, 0) << i;
    ExtractQ(raw.data(), gotQ.data());
    EXPECT_EQ(gotQ, q);

    // Symbols wider than six bits lose bits 7..6 rather than overwrite P and Q.
    Sector wide;
    wide.fill(0xFF);
    PutRw(raw.data(), wide.data());
    ExtractQ(raw.data(), gotQ.data());
    EXPECT_EQ(gotQ, q);
    GetRw(raw.data(), gotPacks.data());
    for (const auto symbol : gotPacks)
        ASSERT_EQ(symbol, 0x3F);
}

} // namespace
} // namespace vantrel::vdrive
