#include "dsp/StereoChanger.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "StageChannel.h"

namespace vantrel {
namespace {

using testing::IsFloat;
using testing::kPcmTypes;
using testing::Name;
using testing::TChannel;

using testing::Process;

// Pairs that reach the ends of each type's range, odd sums and differences of both signs,
// and equal channels. wdInt24In32 goes beyond 24 bits, which nothing limits.
struct TPairs {
    std::vector<double> left, right;
};
TPairs TestPairs(TWaveDataType type)
{
    switch (type) {
    case wdInt8:
        return {{255, 0, 200, 100, 129, 77}, {255, 255, 100, 200, 128, 77}};
    case wdInt16:
        return {{32767, -32768, 32767, 1001, -7, 1234}, {32767, 32767, -32768, -2000, 4, 1234}};
    case wdInt24:
        return {{8388607, -8388608, 8388607, 1001, -7, 99}, {8388607, 8388607, -8388608, -2000, 4, 99}};
    case wdInt24In32:
        return {{2000000000, -2000000000, 2000000000, 1001, -7, 99},
                {2000000000, 2000000000, -2000000000, -2000, 4, 99}};
    case wdInt32:
        return {{2147483647, -2147483648.0, 2147483647, 1001, -7, 99},
                {2147483647, 2147483647, -2147483648.0, -2000, 4, 99}};
    case wdFloat32:
    case wdFloat64:
        return {{1.0, -1.0, 0.5, 0.125, -0.75, 0.3}, {1.0, 1.0, -0.25, 0.5, 0.5, 0.3}};
    default:
        return {{32767, -32768, 1000.5, 3, -7.25, 99}, {32767, 32767, -2000, 4, 1.5, 99}};
    }
}

// The frame (l, r) in each mode: halves round toward minus infinity for integers; wdInt8
// works on its raw bytes and adds 128 back to the difference.
std::pair<double, double> Expected(TWaveDataType type, int mode, double l, double r)
{
    double m = 0;
    switch (mode) {
    case smStereo:
        return {l, r};
    case smLeft:
        return {l, l};
    case smRight:
        return {r, r};
    case smMix:
        m = IsFloat(type) ? (l + r) * 0.5 : std::floor((l + r) / 2);
        break;
    default:
        m = IsFloat(type) ? (l - r) * 0.5 : std::floor((l - r) / 2) + (type == wdInt8 ? 128 : 0);
    }
    return {m, m};
}

TEST(StereoChangerTest, EveryModeOnEveryType)
{
    for (const TWaveDataType type : kPcmTypes) {
        const TPairs pairs = TestPairs(type);
        for (int mode = smStereo; mode <= smSide; ++mode) {
            SCOPED_TRACE(Name(type) + " mode " + std::to_string(mode));
            TStereoChanger stereo;
            ASSERT_TRUE(stereo.Init(type, 44100));
            ASSERT_TRUE(stereo.SetMode(mode));
            TChannel left(type, pairs.left), right(type, pairs.right);
            Process(stereo, left, right);
            for (std::size_t i = 0; i < pairs.left.size(); ++i) {
                const auto [l, r] = Expected(type, mode, pairs.left[i], pairs.right[i]);
                const TChannel rounded(type, {l, r});
                EXPECT_EQ(left[i], rounded[0]) << "left of frame " << i;
                EXPECT_EQ(right[i], rounded[1]) << "right of frame " << i;
            }
        }
    }
}

TEST(StereoChangerTest, MixAndDifferenceStayInRange)
{
    struct TCase {
        TWaveDataType type;
        StereoModes mode;
        double left, right, expected;
    };
    const TCase cases[] = {
        {wdInt16, smMix, 32767, 32767, 32767}, // no overflow in the sum
        {wdInt16, smMix, -32768, 32767, -1},
        {wdInt16, smSide, 32767, -32768, 32767},
        {wdInt16, smSide, -32768, 32767, -32768},
        {wdInt16, smSide, 1234, 1234, 0}, // equal channels cancel
        {wdInt8, smSide, 77, 77, 128},
        {wdInt8, smMix, 255, 255, 255},
        {wdInt8, smSide, 0, 255, 0},
        {wdInt24, smSide, -8388608, 8388607, -8388608},
        {wdInt32, smMix, 2147483647, 2147483647, 2147483647},
        {wdInt32, smSide, -2147483648.0, 2147483647, -2147483648.0},
        {wdFloat32S16, smSide, 5.5, 5.5, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Name(c.type) + " mode " + std::to_string(c.mode) + " " + std::to_string(c.left) + " " +
                     std::to_string(c.right));
        TStereoChanger stereo;
        ASSERT_TRUE(stereo.Init(c.type, 44100));
        ASSERT_TRUE(stereo.SetMode(c.mode));
        TChannel left(c.type, {c.left}), right(c.type, {c.right});
        Process(stereo, left, right);
        EXPECT_EQ(left[0], c.expected);
        EXPECT_EQ(right[0], c.expected);
    }
}

TEST(StereoChangerTest, RefusesUnknownModesAndTypes)
{
    TStereoChanger stereo;
    EXPECT_EQ(stereo.GetMode(), smStereo);
    ASSERT_TRUE(stereo.SetMode(smMix));
    EXPECT_FALSE(stereo.SetMode(5));
    EXPECT_FALSE(stereo.SetMode(-1));
    EXPECT_EQ(stereo.GetMode(), smMix);

    EXPECT_FALSE(stereo.Init(wdAc3Spdif, 44100));
    std::vector<std::uint8_t> left(8, 1), right(8, 9);
    void* const channels[2] = {left.data(), right.data()};
    stereo.Process(channels, 4);
    EXPECT_EQ(left, std::vector<std::uint8_t>(8, 1));
    EXPECT_EQ(right, std::vector<std::uint8_t>(8, 9));
}

} // namespace
} // namespace vantrel
