#include "dsp/Compresser.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "StageChannel.h"

namespace vantrel {
namespace {

using testing::Process;
using testing::TChannel;
using testing::TInt8Scale;

struct TParams {
    int blockMs = 50;
    float avgVolume = 0.6f, ratio1 = 1.0f / 3, ratio2 = 1.0f / 3, maxAmp = 1.8f, gain = 1.0f;
    bool avgFromPeak = true;
    float topShare = 0.75f;
};

// Runs one output block through an enabled normalizer and returns both channels.
std::pair<std::vector<double>, std::vector<double>>
Normalize(TWaveDataType type, const TParams& p, const std::vector<double>& left, const std::vector<double>& right)
{
    TCompresser compresser;
    EXPECT_TRUE(compresser.Init(type, 44100));
    compresser.SetParams(p.blockMs, p.avgVolume, p.ratio1, p.ratio2, p.maxAmp, p.gain, p.avgFromPeak, p.topShare);
    compresser.SetEnabled(true);
    TChannel l(type, left, TInt8Scale::Signed), r(type, right, TInt8Scale::Signed);
    Process(compresser, l, r);
    std::pair<std::vector<double>, std::vector<double>> out;
    for (std::size_t i = 0; i < l.Size(); ++i) {
        out.first.push_back(l[i]);
        out.second.push_back(r[i]);
    }
    return out;
}

// The gain of a sub-block from its level and target, from the curve's description.
double Gain(double level, double target, const TParams& p)
{
    double g = level == 0.0     ? 1.0
               : level > target ? (target + (level - target) * p.ratio1) / level
                                : std::min<double>((level + (target - level) * p.ratio2) / level, p.maxAmp);
    return g * p.gain;
}

TEST(Compresser, MeasuresTheLevelThreeWays)
{
    // Magnitudes, largest first: 1000 600 400 300 200 50 2 0; their sum is 2552.
    const std::vector<double> left = {1000, -400, 200, 0}, right = {-300, 50, 600, -2};
    struct Case {
        bool peak;
        float topShare;
        float avgVolume, ratio1, ratio2;
        double level; // by hand
    };
    const Case cases[] = {
        {true, 0.75f, 0.1f, 0.0f, 1.0f, 1000},   // the peak, raised to the target
        {false, 1.0f, 0.1f, 0.0f, 1.0f, 319},    // mean of all 8
        {false, 0.5f, 0.1f, 0.0f, 1.0f, 575},    // mean of the largest 4
        {false, 0.3f, 0.1f, 0.0f, 1.0f, 800},    // trunc(2.4) = 2
        {false, 0.1f, 0.1f, 0.0f, 1.0f, 1000},   // trunc(0.8), at least 1
        {true, 0.75f, 0.01f, 0.25f, 0.0f, 1000}, // above the target: a quarter of the excess stays
        {false, 0.5f, 0.01f, 0.25f, 0.0f, 575},
    };
    for (const Case& c : cases) {
        TParams p;
        p.avgFromPeak = c.peak;
        p.topShare = c.topShare;
        p.avgVolume = c.avgVolume;
        p.ratio1 = c.ratio1;
        p.ratio2 = c.ratio2;
        p.maxAmp = 100.0f;
        const auto [outLeft, outRight] = Normalize(wdInt16, p, left, right);
        const double g = Gain(c.level, c.avgVolume * 32767.0, p);
        for (std::size_t i = 0; i < left.size(); ++i) {
            EXPECT_NEAR(outLeft[i], std::trunc(left[i] * g), 1.0) << "level " << c.level << " frame " << i;
            EXPECT_NEAR(outRight[i], std::trunc(right[i] * g), 1.0) << "level " << c.level << " frame " << i;
        }
    }
}

TEST(Compresser, PullsLoudTowardTheTargetAndRaisesQuietByAtMostMaxAmp)
{
    // Defaults, on the unit scale: target 0.6.
    struct Case {
        double level, gain, expectedPeak;
    };
    const Case cases[] = {
        {1.2, 1.0, 0.8},      // twice the target: 4/3 of it
        {0.3, 1.0, 0.4},      // half the target: 2/3 of it
        {0.006, 1.0, 0.0108}, // far below: raised only by 1.8
        {0.6, 1.0, 0.6},      // at the target: unchanged
        {0.6, 2.0, 1.2},      // then the output gain
        {0.0, 2.0, 0.0},      // silence
    };
    for (const Case& c : cases) {
        TParams p;
        p.gain = static_cast<float>(c.gain);
        const std::vector<double> left = {c.level / 2, -c.level, c.level / 4}, right = {0, c.level / 3, -c.level / 8};
        const auto [outLeft, outRight] = Normalize(wdFloat32, p, left, right);
        EXPECT_NEAR(outLeft[1], -c.expectedPeak, 1e-6) << c.level;
        const double g = c.level == 0.0 ? 1.0 : c.expectedPeak / c.level;
        EXPECT_NEAR(outLeft[0], left[0] * g, 1e-6) << c.level;
        EXPECT_NEAR(outRight[1], right[1] * g, 1e-6) << c.level;
    }

    // On the 16-bit scale, target 19660.2: a peak of 30000 gets about 0.770, one of 1000
    // the maximum 1.8 rather than 7.22.
    const auto [loud, loudRight] = Normalize(wdInt16, TParams{}, {30000, -15000}, {0, 0});
    EXPECT_NEAR(loud[0], 30000 * 0.77022, 1.0);
    EXPECT_NEAR(loud[1], -15000 * 0.77022, 1.0);
    const auto [quiet, quietRight] = Normalize(wdInt16, TParams{}, {1000, -999}, {0, 0});
    EXPECT_EQ(quiet, (std::vector<double>{1800, -1798})); // -1798.2 truncated toward zero
}

TEST(Compresser, CutsTheBlockIntoSubBlocksOfTheSetLength)
{
    // 5000 frames at 50 ms and 44100 Hz: 2205 + 2205 + 590, each with its own level. A cut
    // in any other place would give some frames the gain of a neighbouring level.
    const std::size_t bounds[] = {0, 2205, 4410, 5000};
    const double levels[] = {1000, 8000, 30000};
    std::vector<double> left, right;
    for (int k = 0; k < 3; ++k)
        for (std::size_t i = bounds[k]; i < bounds[k + 1]; ++i) {
            left.push_back(i % 2 ? levels[k] : -levels[k]);
            right.push_back(levels[k] / 2);
        }
    const TParams p;
    const auto [outLeft, outRight] = Normalize(wdInt16, p, left, right);
    for (int k = 0; k < 3; ++k) {
        const double g = Gain(levels[k], 0.6 * 32767, p);
        for (std::size_t i = bounds[k]; i < bounds[k + 1]; ++i) {
            ASSERT_NEAR(outLeft[i], std::trunc(left[i] * g), 1.0) << "frame " << i;
            ASSERT_NEAR(outRight[i], std::trunc(right[i] * g), 1.0) << "frame " << i;
        }
    }
}

TEST(Compresser, SubBlockLengthFollowsRateAndMilliseconds)
{
    struct Case {
        int rate, ms, frames;
    };
    const Case cases[] = {{44100, 50, 2205}, {48000, 50, 2400}, {44100, 1, 44}, {44100, 1000, 44100}, {44100, 0, 1}};
    for (const Case& c : cases) {
        TCompresser compresser;
        compresser.SetParams(c.ms, 0.6f, 0.33f, 0.33f, 1.8f, 1.0f, true, 0.75f);
        ASSERT_TRUE(compresser.Init(wdInt16, c.rate));
        EXPECT_EQ(compresser.GetBlockFrames(), c.frames) << c.rate << " " << c.ms;
        compresser.SetParams(c.ms * 2, 0.6f, 0.33f, 0.33f, 1.8f, 1.0f, true, 0.75f);
        EXPECT_EQ(compresser.GetBlockFrames(), std::max(1, static_cast<int>(std::int64_t{c.rate} * c.ms * 2 / 1000)));
    }
}

TEST(Compresser, LimitsIntegerTypesToTheirRange)
{
    // Gain exactly 1.5: below the target (avgVolume 1000) with ratio2 0 the curve gives 1.
    TParams p;
    p.avgVolume = 1000.0f;
    p.ratio2 = 0.0f;
    p.gain = 1.5f;
    struct Case {
        TWaveDataType type;
        std::vector<double> in, out;
    };
    const Case cases[] = {
        {wdInt8, {100, -100, 20, -21}, {127, -128, 30, -31}},
        {wdInt16, {30000, -30000, -1001, 7}, {32767, -32768, -1501, 10}},
        {wdInt24, {8000000, -8000000, -3}, {8388607, -8388608, -4}},
        // Beyond the 24-bit scale, as the type allows; only the container limits it.
        {wdInt24In32, {8000000, -8000000, 2000000000}, {12000000, -12000000, 2147483647}},
        {wdInt32, {2000000000, -2000000000, 1000000000}, {2147483647, -2147483648.0, 1500000000}},
        {wdFloat32, {0.9, -0.9}, {0.9f * 1.5f, -0.9f * 1.5f}}, // floats are not limited
        {wdFloat64S16, {30000, -30000}, {45000, -45000}},
    };
    for (const Case& c : cases) {
        const std::vector<double> zeros(c.in.size(), 0.0);
        const auto [left, right] = Normalize(c.type, p, c.in, zeros);
        EXPECT_EQ(left, c.out) << int{c.type};
        EXPECT_EQ(right, zeros) << int{c.type};
    }
}

TEST(Compresser, LeavesTheAudioAloneWhenDisabledOrWithoutRoutine)
{
    TChannel left(wdInt16, {1000, -20000, 5}), right(wdInt16, {3, 4, 5});
    const auto original = left.Bytes();
    void* const channels[] = {left.Data(), right.Data()};

    TCompresser disabled;
    ASSERT_TRUE(disabled.Init(wdInt16, 44100));
    disabled.SetParams(50, 0.6f, 0.33f, 0.33f, 1.8f, 2.0f, true, 0.75f);
    disabled.Process(channels, 3);
    EXPECT_EQ(left.Bytes(), original);

    TCompresser noRoutine;
    EXPECT_FALSE(noRoutine.Init(wdAc3Spdif, 44100));
    noRoutine.SetEnabled(true);
    noRoutine.Process(channels, 3);
    EXPECT_EQ(left.Bytes(), original);

    disabled.SetEnabled(true); // and the same stage once enabled does change it
    disabled.Process(channels, 3);
    EXPECT_NE(left.Bytes(), original);
}

} // namespace
} // namespace vantrel
