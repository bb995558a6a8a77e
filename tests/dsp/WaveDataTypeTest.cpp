#include "dsp/WaveDataType.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

// The engine maps settings at compile time in places.
static_assert(InternalTypeFromList(2) == wdInt24In32 && OutputTypeFromList(2) == wdInt24);

TEST(WaveDataType, DescribesEveryCodeAndNothingBeyond)
{
    struct Case {
        int code;
        int bytes;
        int bits;
        std::uint16_t tag;
        double fullScale;
    };
    const Case cases[] = {
        {wdInt8, 1, 8, 1, 128.0},
        {wdInt16, 2, 16, 1, 32768.0},
        {wdInt24, 3, 24, 1, 8388608.0},
        {wdInt24In32, 4, 24, 1, 8388608.0}, // 24 valid bits in a 4-byte container
        {wdInt32, 4, 32, 1, 2147483648.0},
        {wdFloat32, 4, 32, 3, 1.0},
        {wdFloat64, 8, 64, 3, 1.0},
        {wdFloat32S16, 4, 32, 0, 32768.0},
        {wdFloat64S16, 8, 64, 0, 32768.0},
        {wdAc3Spdif, 2, 16, 0x0092, 0.0},
        {wdRawSport, 2, 16, 0x0240, 0.0},
        {11, 0, 0, 0, 0.0},
        {255, 0, 0, 0, 0.0},
    };
    for (const Case& c : cases) {
        const auto type = static_cast<TWaveDataType>(c.code);
        EXPECT_EQ(GetDataBytes(type), c.bytes) << c.code;
        EXPECT_EQ(GetDataBits(type), c.bits) << c.code;
        EXPECT_EQ(GetFormatTag(type), c.tag) << c.code;
        EXPECT_EQ(GetFullScale(type), c.fullScale) << c.code;
    }
}

TEST(WaveDataType, ChannelMaskOnlyForTheUsualLayouts)
{
    const std::pair<int, std::uint32_t> cases[] = {{1, 0x4}, {2, 0x3}, {4, 0x33}, {6, 0x3F}, {8, 0xFF},
                                                   {0, 0},   {3, 0},   {5, 0},    {7, 0},    {-2, 0}};
    for (const auto& [channels, mask] : cases)
        EXPECT_EQ(GetChannelMask(channels), mask) << channels;
}

TEST(WaveDataType, FormatListsMapDifferentlyInsideAndOut)
{
    // "INT8", "INT16", "INT24", "INT32", "FLOAT32", "FLOAT64"; anything else is INT16.
    struct Case {
        int position;
        TWaveDataType internal;
        TWaveDataType output;
    };
    const Case cases[] = {
        {0, wdInt8, wdInt8},   {1, wdInt16, wdInt16},        {2, wdInt24In32, wdInt24},
        {3, wdInt32, wdInt32}, {4, wdFloat32S16, wdFloat32}, {5, wdFloat64S16, wdFloat64},
        {6, wdInt16, wdInt16}, {-1, wdInt16, wdInt16},       {1000, wdInt16, wdInt16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InternalTypeFromList(c.position), c.internal) << c.position;
        EXPECT_EQ(OutputTypeFromList(c.position), c.output) << c.position;
    }
}

} // namespace
} // namespace vantrel
