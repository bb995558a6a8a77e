#include "dsp/VolumeChanger.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StageChannel.h"

namespace vantrel {
namespace {

using testing::kPcmTypes;
using testing::Name;
using testing::Process;
using testing::RandomChannel;
using testing::TChannel;

// The gain of a step of the default digital volume table: 1 at step 0, 10^-x for steps 1
// to 14, silence at step 15.
double StepGain(int step)
{
    static constexpr double kExponents[14] = {0.026, 0.056, 0.1225, 0.2975, 0.595, 0.89,  1.18,
                                              1.205, 1.23,  1.295,  1.455,  1.71,  1.93, 2.105};
    return step == 0 ? 1.0 : step == 15 ? 0.0 : std::pow(10.0, -kExponents[step - 1]);
}

// Samples across each type's range, every one exact in a 32-bit float.
std::vector<double> TestValues(TWaveDataType type)
{
    switch (type) {
    case wdInt8: return {0, 1, 64, 127, 128, 129, 200, 255};
    case wdInt16: return {-32768, -12345, -1, 0, 1, 12345, 32767};
    case wdInt24:
    case wdInt24In32: return {-8388608, -1234567, -1, 0, 1, 1234567, 8388607};
    case wdInt32: return {-2147483648.0, -123456768, -1, 0, 1, 16777216, 2147483520.0};
    case wdFloat32:
    case wdFloat64: return {-1.0, -0.5, 0, 0.25, 0.9999};
    default: return {-32768, -1000.5, 0, 1, 32767};
    }
}

// What a sample becomes at a gain: integers are scaled in float, truncated toward zero and
// kept in their range (wdInt8 around its zero of 128; packed 24-bit as the top of a 32-bit
// value); the 32-bit floats scale in float,
// the 64-bit ones in double; a gain of exactly 1 leaves the sample as it is.
double Expected(TWaveDataType type, double value, double gain)
{
    if (gain == 1.0)
        return value;
    const float g = static_cast<float>(gain);
    auto scaled = [&](double v, double lo, double hi) {
        const double t = std::trunc(static_cast<double>(static_cast<float>(v) * g));
        return t < lo ? lo : t > hi ? hi : t;
    };
    switch (type) {
    case wdInt8: return scaled(value - 128, -128, 127) + 128;
    case wdInt16: return scaled(value, -32768, 32767);
    case wdInt24:  // scaled as the top 24 bits of a 32-bit value, whose low byte then goes
        return std::floor(scaled(value * 256, -2147483648.0, 2147483647.0) / 256);
    case wdInt24In32:
    case wdInt32: return scaled(value, -2147483648.0, 2147483647.0);
    case wdFloat32:
    case wdFloat32S16: return static_cast<float>(value) * g;
    default: return value * gain;
    }
}

TEST(VolumeChangerTest, EveryStepOfTheDigitalVolumeTableOnEveryType)
{
    for (const TWaveDataType type : kPcmTypes) {
        const std::vector<double> values = TestValues(type);
        for (int step = 0; step < 16; ++step) {
            SCOPED_TRACE(Name(type) + " step " + std::to_string(step));
            // The right channel at another step: the two gains stay apart.
            const int rightStep = 15 - step;
            TVolumeChanger volume;
            ASSERT_TRUE(volume.Init(type, 44100));
            volume.SetVolume(StepGain(step), StepGain(rightStep));
            TChannel left(type, values), right(type, values);
            Process(volume, left, right);
            for (std::size_t i = 0; i < values.size(); ++i) {
                // Through a buffer of the type, which rounds floats to their width.
                const TChannel expected(
                    type, {Expected(type, values[i], StepGain(step)), Expected(type, values[i], StepGain(rightStep))});
                EXPECT_EQ(left[i], expected[0]) << "left sample " << values[i];
                EXPECT_EQ(right[i], expected[1]) << "right sample " << values[i];
            }
        }
    }
}

TEST(VolumeChangerTest, DoubleTypesScaleByTheExactPowerOfTen)
{
    // 10000 * 10^-0.595 = 2541.1...; the 64-bit floats keep the gain in double.
    TVolumeChanger volume;
    ASSERT_TRUE(volume.Init(wdFloat64S16, 44100));
    volume.SetVolume(StepGain(5), StepGain(14));
    TChannel left(wdFloat64S16, {10000}), right(wdFloat64S16, {10000});
    Process(volume, left, right);
    EXPECT_DOUBLE_EQ(left[0], 10000 * std::pow(10.0, -0.595));
    EXPECT_DOUBLE_EQ(right[0], 10000 * std::pow(10.0, -2.105));
    EXPECT_NEAR(left[0], 2541, 1);
    EXPECT_NEAR(right[0], 79, 0.5);
}

TEST(VolumeChangerTest, GainsAboveOneClipAtFullScale)
{
    struct TCase {
        TWaveDataType type;
        double gain;
        double sample;
        double expected;
    };
    const TCase cases[] = {
        {wdInt8, 0.5, 200, 164}, // trunc(72 * 0.5) + 128
        {wdInt8, 2.0, 255, 255},
        {wdInt8, 2.0, 0, 0},
        {wdInt8, 0.0, 3, 128},
        {wdInt16, 1.5, 30000, 32767},
        {wdInt16, 1.5, -30000, -32768},
        {wdInt16, 0.0, -30000, 0},
        {wdInt24, 1.5, 8000000, 8388607},
        {wdInt24, 1.5, -8000000, -8388608},
        {wdInt24In32, 1.5, 8000000, 12000000}, // headroom above 24 bits
        {wdInt24In32, 4.0, 2000000000, 2147483647},
        {wdInt32, 1.5, 2000000000, 2147483647},
        {wdInt32, 1.5, -2000000000, -2147483648.0},
        {wdFloat32, 2.0, 0.75, 1.5}, // floats are not limited
        {wdFloat64S16, 2.0, 30000, 60000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Name(c.type) + " " + std::to_string(c.sample) + " x " + std::to_string(c.gain));
        TVolumeChanger volume;
        ASSERT_TRUE(volume.Init(c.type, 44100));
        volume.SetVolume(c.gain, c.gain);
        TChannel left(c.type, {c.sample}), right(c.type, {c.sample});
        Process(volume, left, right);
        EXPECT_EQ(left[0], c.expected);
        EXPECT_EQ(right[0], c.expected);
    }
}

TEST(VolumeChangerTest, UnityGainLeavesAChannelBitForBit)
{
    std::mt19937 random(7);
    for (const TWaveDataType type : kPcmTypes) {
        SCOPED_TRACE(Name(type));
        TChannel left = RandomChannel(type, 64, random), right = RandomChannel(type, 64, random);
        const auto leftBefore = left.Bytes(), rightBefore = right.Bytes();

        TVolumeChanger volume;
        ASSERT_TRUE(volume.Init(type, 44100));
        Process(volume, left, right); // both gains 1.0 after construction
        EXPECT_EQ(left.Bytes(), leftBefore);
        EXPECT_EQ(right.Bytes(), rightBefore);

        // Also when only the other channel changes: 32-bit values do not pass through float.
        volume.SetVolume(0.5, 1.0);
        Process(volume, left, right);
        EXPECT_EQ(right.Bytes(), rightBefore);
    }
}

TEST(VolumeChangerTest, TypesWithoutARoutineAreRefusedAndLeftAlone)
{
    for (const TWaveDataType type : {wdAc3Spdif, wdRawSport, static_cast<TWaveDataType>(200)}) {
        TVolumeChanger volume;
        EXPECT_FALSE(volume.Init(type, 44100));
        volume.SetVolume(0.5, 0.5);
        std::vector<std::uint8_t> left(16, 0x55), right(16, 0x55);
        void* const channels[2] = {left.data(), right.data()};
        volume.Process(channels, 4);
        EXPECT_EQ(left, std::vector<std::uint8_t>(16, 0x55));
        EXPECT_EQ(right, std::vector<std::uint8_t>(16, 0x55));
    }
}

} // namespace
} // namespace vantrel
