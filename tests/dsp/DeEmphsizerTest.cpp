#include "dsp/DeEmphsizer.h"

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StageChannel.h"

namespace vantrel {
namespace {

constexpr double kRate = 44100;
constexpr double kPi = std::numbers::pi;

using testing::kPcmTypes;
using testing::Name;
using testing::RandomChannel;
using testing::TChannel;

using testing::Process;

double Decibels(double ratio)
{
    return 20 * std::log10(ratio);
}

// The analog de-emphasis filter, zero at 15 us over pole at 50 us.
std::complex<double> Analog(double frequency)
{
    const std::complex<double> s(0, 2 * kPi * frequency);
    return (1.0 + s * 15e-6) / (1.0 + s * 50e-6);
}

// A sine of a whole number of hertz through the stage, in both channels (the right one
// shifted by a quarter cycle); returns output over input at that frequency over the second
// of two seconds, once the filter has settled.
std::array<std::complex<double>, 2> MeasureResponse(TWaveDataType type, double amplitude, double frequency)
{
    const std::size_t n = 2 * static_cast<std::size_t>(kRate);
    const double offset = type == wdInt8 ? 128 : 0;
    std::vector<double> sine(n), cosine(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double phase = 2 * kPi * frequency * static_cast<double>(i) / kRate;
        sine[i] = offset + amplitude * std::sin(phase);
        cosine[i] = offset + amplitude * std::cos(phase);
    }
    TChannel left(type, sine), right(type, cosine);
    const TChannel leftIn = left, rightIn = right;
    TDeEmphsizer stage;
    EXPECT_TRUE(stage.Init(type, 44100));
    stage.SetEnabled(true);
    Process(stage, left, right);
    std::complex<double> out[2], in[2];
    for (std::size_t i = n / 2; i < n; ++i) { // a whole number of cycles
        const std::complex<double> w = std::polar(1.0, -2 * kPi * frequency * static_cast<double>(i) / kRate);
        out[0] += (left[i] - offset) * w;
        out[1] += (right[i] - offset) * w;
        in[0] += (leftIn[i] - offset) * w;
        in[1] += (rightIn[i] - offset) * w;
    }
    return {out[0] / in[0], out[1] / in[1]};
}

TEST(DeEmphsizerTest, FollowsTheDeEmphasisCurve)
{
    // The analog 50/15 us curve, measured on sines through every type the stage computes in,
    // across the band and at the points that matter most for hearing the treble right.
    struct TType {
        TWaveDataType type;
        double amplitude;
    };
    const TType types[] = {{wdInt16, 20000}, {wdInt24, 5e6},   {wdInt24In32, 5e6},    {wdInt32, 1e9},
                           {wdFloat32, 0.5}, {wdFloat64, 0.5}, {wdFloat32S16, 20000}, {wdFloat64S16, 20000}};
    for (const TType& t : types) {
        for (const double f : {100.0, 1000.0, 3183.0, 5000.0, 10610.0, 16000.0, 20000.0}) {
            SCOPED_TRACE(Name(t.type) + " " + std::to_string(f) + " Hz");
            for (const std::complex<double> measured : MeasureResponse(t.type, t.amplitude, f))
                EXPECT_NEAR(Decibels(std::abs(measured)), Decibels(std::abs(Analog(f))), 0.1);
        }
    }
    // The same points by hand: 20 log10 |(1 + j w 15us) / (1 + j w 50us)|.
    const auto analogDb = [](double f) {
        const double w = 2 * kPi * f;
        return 10 * std::log10((1 + w * w * 225e-12) / (1 + w * w * 2500e-12));
    };
    EXPECT_NEAR(analogDb(1000), -0.370, 0.001);
    EXPECT_NEAR(analogDb(5000), -4.529, 0.001);
    EXPECT_NEAR(analogDb(16000), -9.043, 0.001);
    for (const double f : {1000.0, 5000.0, 16000.0})
        EXPECT_NEAR(Decibels(std::abs(MeasureResponse(wdFloat64, 0.5, f)[0])), analogDb(f), 0.1) << f << " Hz";
    // Phase stays that of a gentle shelf: never more than the analog section's, lagging.
    for (const double f : {1000.0, 5000.0, 16000.0}) {
        const double phase = std::arg(MeasureResponse(wdFloat64, 0.5, f)[0]);
        EXPECT_LT(phase, 0.0) << f << " Hz";
        EXPECT_GT(phase, -kPi / 2) << f << " Hz";
    }
}

TEST(DeEmphsizerTest, ConstantSignalPassesFromTheFirstFrame)
{
    std::vector<double> levels;
    for (int v = -32767; v <= 32767; v += 331)
        levels.push_back(v);
    levels.push_back(32767);
    for (const double level : levels) {
        TChannel left(wdInt16, std::vector<double>(100, level)), right(wdInt16, std::vector<double>(100, -level));
        TDeEmphsizer stage;
        ASSERT_TRUE(stage.Init(wdInt16, 44100));
        stage.SetEnabled(true);
        Process(stage, left, right);
        for (std::size_t i = 0; i < 100; ++i) {
            ASSERT_EQ(left[i], level) << "frame " << i;
            ASSERT_EQ(right[i], -level) << "frame " << i;
        }
    }
    TChannel left(wdFloat64S16, std::vector<double>(100, 1234.5)), right(wdFloat64S16, std::vector<double>(100, -3));
    TDeEmphsizer stage;
    ASSERT_TRUE(stage.Init(wdFloat64S16, 44100));
    stage.SetEnabled(true);
    Process(stage, left, right);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_NEAR(left[i], 1234.5, 1e-9);
        EXPECT_NEAR(right[i], -3, 1e-9);
    }
}

TEST(DeEmphsizerTest, LevelWithoutTheFilter)
{
    struct TCase {
        TWaveDataType type;
        double percent;
        double sample;
        double expected;
    };
    const TCase cases[] = {
        {wdInt16, 150, 30000, 32767},
        {wdInt16, 150, -30000, -32767}, // the limits are symmetric
        {wdInt16, 50, -32768, -16384},
        {wdInt16, 50, 12345, 6172}, // truncation toward zero
        {wdInt16, 50, -12345, -6172},
        {wdInt8, 150, 250, 255},
        {wdInt8, 150, 0, 0},
        {wdInt8, 50, 200, 164},
        {wdInt24, 150, 8000000, 8388607},
        {wdInt24, 150, -8000000, -8388608},
        {wdInt24In32, 150, 8000000, 12000000}, // headroom above 24 bits
        {wdInt32, 150, 2000000000, 2147483647},
        {wdInt32, 150, -2000000000, -2147483648.0},
        {wdFloat32, 150, 0.75, 1.125},
        {wdFloat64S16, 150, 30000, 45000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Name(c.type) + " " + std::to_string(c.sample) + " at " + std::to_string(c.percent) + " %");
        TDeEmphsizer stage;
        ASSERT_TRUE(stage.Init(c.type, 44100));
        stage.SetGain(c.percent);
        EXPECT_TRUE(stage.IsGainActive());
        TChannel left(c.type, {c.sample}), right(c.type, {c.sample});
        Process(stage, left, right);
        EXPECT_EQ(left[0], c.expected);
        EXPECT_EQ(right[0], c.expected);
    }
}

TEST(DeEmphsizerTest, FullLevelWithoutTheFilterLeavesSamplesBitForBit)
{
    std::mt19937 random(3);
    for (const TWaveDataType type : kPcmTypes) {
        SCOPED_TRACE(Name(type));
        TChannel left = RandomChannel(type, 32, random), right = RandomChannel(type, 32, random);
        const auto leftBefore = left.Bytes(), rightBefore = right.Bytes();
        TDeEmphsizer stage;
        ASSERT_TRUE(stage.Init(type, 44100));
        stage.SetGain(100.0005); // within 0.001 % of 100 counts as 100
        EXPECT_FALSE(stage.IsGainActive());
        Process(stage, left, right);
        EXPECT_EQ(left.Bytes(), leftBefore);
        EXPECT_EQ(right.Bytes(), rightBefore);
    }
}

TEST(DeEmphsizerTest, LevelAppliesAfterTheFilter)
{
    TChannel left(wdInt16, std::vector<double>(50, 20000)), right(wdInt16, std::vector<double>(50, -20001));
    TDeEmphsizer stage;
    ASSERT_TRUE(stage.Init(wdInt16, 44100));
    stage.SetEnabled(true);
    stage.SetGain(50);
    Process(stage, left, right);
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(left[i], 10000);
        EXPECT_EQ(right[i], -10000); // -10000.5 truncated
    }
}

// Noise, different in each channel.
std::vector<double> Noise(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    std::vector<double> values(n);
    for (double& v : values)
        v = sample(random);
    return values;
}

TEST(DeEmphsizerTest, HistoryCarriesAcrossChunksUntilReset)
{
    const std::vector<double> a = Noise(300, 1), b = Noise(300, 2);
    std::vector<double> whole = a;
    whole.insert(whole.end(), b.begin(), b.end());
    const std::vector<double> reversed(whole.rbegin(), whole.rend());
    auto newStage = [] {
        auto stage = std::make_unique<TDeEmphsizer>();
        EXPECT_TRUE(stage->Init(wdFloat32S16, 44100));
        stage->SetEnabled(true);
        return stage;
    };

    const auto once = newStage();
    TChannel wholeLeft(wdFloat32S16, whole), wholeRight(wdFloat32S16, reversed);
    Process(*once, wholeLeft, wholeRight);

    // The same audio in chunks of 1, 0, 99 and 500 frames.
    const auto chunked = newStage();
    std::size_t at = 0;
    for (const std::size_t length : {1, 0, 99, 500}) {
        const auto from = static_cast<std::ptrdiff_t>(at), to = static_cast<std::ptrdiff_t>(at + length);
        TChannel left(wdFloat32S16, {whole.begin() + from, whole.begin() + to});
        TChannel right(wdFloat32S16, {reversed.begin() + from, reversed.begin() + to});
        Process(*chunked, left, right);
        for (std::size_t i = 0; i < length; ++i) {
            ASSERT_EQ(left[i], wholeLeft[at + i]) << "frame " << at + i;
            ASSERT_EQ(right[i], wholeRight[at + i]) << "frame " << at + i;
        }
        at += length;
    }

    // After Reset the next chunk starts from its own first frame, as in a new filter, and
    // no longer continues the one before.
    chunked->Reset();
    TChannel left(wdFloat32S16, b), right(wdFloat32S16, a);
    Process(*chunked, left, right);
    const auto fresh = newStage();
    TChannel freshLeft(wdFloat32S16, b), freshRight(wdFloat32S16, a);
    Process(*fresh, freshLeft, freshRight);
    EXPECT_EQ(left.Bytes(), freshLeft.Bytes());
    EXPECT_EQ(right.Bytes(), freshRight.Bytes());
    EXPECT_NE(freshLeft[0], wholeLeft[300]);
}

TEST(DeEmphsizerTest, TypesWithoutARoutineAreRefusedAndLeftAlone)
{
    TDeEmphsizer stage;
    EXPECT_FALSE(stage.Init(wdAc3Spdif, 44100));
    stage.SetEnabled(true);
    stage.SetGain(50);
    std::vector<std::uint8_t> left(8, 0x40), right(8, 0x40);
    void* const channels[2] = {left.data(), right.data()};
    stage.Process(channels, 4);
    EXPECT_EQ(left, std::vector<std::uint8_t>(8, 0x40));
    EXPECT_EQ(right, std::vector<std::uint8_t>(8, 0x40));
}

} // namespace
} // namespace vantrel
