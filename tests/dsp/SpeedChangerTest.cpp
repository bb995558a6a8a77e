#include "dsp/SpeedChanger.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "StageChannel.h"

namespace vantrel {
namespace {

using testing::kPcmTypes;
using testing::TChannel;
using testing::TInt8Scale;

// Runs one chunk through the changer; the right channel carries the left one plus `offset`.
// Values are on the signed scale, wdInt8 as byte - 128.
struct TChunk {
    TChannel left, right;
    std::size_t frames = 0;

    TChunk(TSpeedChanger& changer, TWaveDataType type, const std::vector<double>& values, double offset = 0.0)
        : left(type, std::vector<double>(2 * values.size() + 2), TInt8Scale::Signed),
          right(type, std::vector<double>(2 * values.size() + 2), TInt8Scale::Signed)
    {
        TChannel inLeft(type, values, TInt8Scale::Signed), inRight(type, values, TInt8Scale::Signed);
        for (std::size_t i = 0; i < values.size(); ++i)
            inRight.Set(i, values[i] + offset);
        const void* const in[] = {inLeft.Data(), inRight.Data()};
        void* const out[] = {left.Data(), right.Data()};
        frames = changer.Process(in, values.size(), out);
    }
    std::vector<double> Left() const
    {
        std::vector<double> v;
        for (std::size_t i = 0; i < frames; ++i)
            v.push_back(left[i]);
        return v;
    }
};

// A changer for 44100 Hz samples of a type, set to a speed code.
struct TChangerAt : TSpeedChanger {
    explicit TChangerAt(int code, TWaveDataType type = wdInt16)
    {
        EXPECT_TRUE(Init(type, 44100));
        EXPECT_TRUE(SetSpeed(code));
    }
};

TEST(SpeedChanger, StepsWriteFloorOfInputTimesTheirRatio)
{
    struct Case {
        int step;
        std::size_t in, out;
    };
    const Case cases[] = {
        {-2, 588, 1176}, {-2, 1, 2},   {-1, 588, 882}, {-1, 3, 4}, {0, 588, 588}, {1, 588, 392},
        {1, 5, 3},       {1, 4, 2},    {1, 2, 1},      {1, 1, 0},  {2, 588, 294}, {3, 588, 196},
        {5, 588, 117},   {7, 588, 84}, {10, 588, 58},  {10, 9, 0}, {4, 7, 1},
    };
    for (const Case& c : cases) {
        TChangerAt changer(c.step);
        EXPECT_EQ(TChunk(changer, wdInt16, std::vector<double>(c.in, 1.0)).frames, c.out)
            << "step " << c.step << " in " << c.in;
    }
    // Every length: the output per input frame is the inverse of the speed num/den.
    const int speed[13][2] = {{1, 2}, {2, 3}, {1, 1}, {3, 2}, {2, 1}, {3, 1}, {4, 1},
                              {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1}};
    for (int step = -2; step <= 10; ++step) {
        TChangerAt changer(step);
        const auto [num, den] = speed[step + 2];
        for (std::size_t n = 1; n <= 1200; ++n) {
            ASSERT_EQ(TChunk(changer, wdInt16, std::vector<double>(n, 1.0)).frames, n * den / num)
                << "step " << step << " in " << n;
        }
    }
}

// Where output j of a step sits in the input (in frames) for a chunk of n frames; each output
// is a mean of neighbours, so on a ramp it equals the ramp at that position.
std::vector<double> Positions(int step, std::size_t n, bool int8)
{
    std::vector<double> p;
    if (step == -2) {
        for (std::size_t m = 0; m < n; ++m) {
            p.push_back(static_cast<double>(m) - 0.5); // output 0 is checked apart
            p.push_back(static_cast<double>(m));
        }
    } else if (step == -1) {
        for (std::size_t k = 0; 2 * k + 1 < n; ++k) {
            p.push_back(2.0 * k);
            p.push_back(2.0 * k + 0.5);
            p.push_back(2.0 * k + 1);
        }
        if (n % 2)
            p.push_back(static_cast<double>(n - 1));
    } else if (step == 0) {
        for (std::size_t m = 0; m < n; ++m)
            p.push_back(static_cast<double>(m));
    } else if (step == 1) {
        const std::size_t r = n % 3;
        p = {0.5, 1.5};
        if (r == 2)
            p.push_back(3.5); // frames 3 and 4, left over after the first group
        for (std::size_t k = 1; k < n / 3; ++k) {
            p.push_back(static_cast<double>(r + 3 * k) + 0.5);
            p.push_back(static_cast<double>(r + 3 * k) + 1.5);
        }
    } else {
        const auto width = static_cast<std::size_t>(step);
        const std::size_t r = n % width;
        for (std::size_t i = 0; i < n / width; ++i) {
            const std::size_t first = int8 && i == 0 ? 0 : r + width * i;
            p.push_back(static_cast<double>(first) + static_cast<double>(width - 1) / 2.0);
        }
    }
    return p;
}

TEST(SpeedChanger, StepKernelsAverageTheRightFramesInEveryType)
{
    // Ramps a + b * i with b even, so every mean is exact; the 32-bit ramps lie where a
    // sum of two samples overflows 32 bits.
    struct Case {
        TWaveDataType type;
        double a, b;
    };
    const Case cases[] = {
        {wdInt8, -100, 2},
        {wdInt16, -30000, 580},
        {wdInt24, -8000000, 160000},
        {wdInt24In32, -20000000, 400000},
        {wdInt32, 2000000000, 1400000},
        {wdFloat32, -0.5, 0.0078125},
        {wdFloat64, -0.5, 0.0078125},
        {wdFloat32S16, -30000, 580},
        {wdFloat64S16, -30000, 580},
    };
    for (const Case& c : cases) {
        for (const std::size_t n : {std::size_t{100}, std::size_t{101}}) {
            std::vector<double> ramp;
            for (std::size_t i = 0; i < n; ++i)
                ramp.push_back(c.a + c.b * static_cast<double>(i));
            for (int step = -2; step <= 10; ++step) {
                TChangerAt changer(step, c.type);
                TChunk chunk(changer, c.type, ramp);
                const std::vector<double> p = Positions(step, n, c.type == wdInt8);
                ASSERT_EQ(chunk.frames, p.size()) << int{c.type} << " step " << step << " n " << n;
                for (std::size_t j = 0; j < p.size(); ++j) {
                    // At step -2 output 0 is the mean with the frame before the chunk: 0 here.
                    const bool isFloat = c.type >= wdFloat32;
                    const double first = isFloat ? c.a / 2 : std::trunc(c.a / 2);
                    const double expected = step == -2 && j == 0 ? first : c.a + c.b * p[j];
                    ASSERT_EQ(chunk.left[j], expected)
                        << int{c.type} << " step " << step << " n " << n << " output " << j;
                }
            }
        }
    }
}

TEST(SpeedChanger, IntegersRoundPairsDownAndGroupsTowardZero)
{
    struct Case {
        int step;
        std::vector<double> in, out;
    };
    const Case cases[] = {
        {-1, {-3, 0}, {-3, -2, 0}},     // (-3 + 0) >> 1
        {-2, {-3, 0}, {-1, -3, -2, 0}}, // first: trunc((0 + -3) / 2); then (-3 + 0) >> 1
        {1, {-3, 0, 0}, {-2, 0}},
        {2, {-3, 0}, {-1}}, // -3 / 2 truncated
        {3, {-1, -1, 0}, {0}},
        {-2, {32767, 32767}, {16383, 32767, 32767, 32767}},
        {2, {-32768, -32768, 32767, 32767}, {-32768, 32767}},
    };
    for (const Case& c : cases) {
        TChangerAt changer(c.step);
        EXPECT_EQ(TChunk(changer, wdInt16, c.in).Left(), c.out) << "step " << c.step;
    }
}

TEST(SpeedChanger, HalfSpeedJoinsOnToThePreviousChunk)
{
    TChangerAt changer(-2);
    TChunk first(changer, wdInt16, {10, 1000}, 5);
    TChunk second(changer, wdInt16, {3000, 4000}, 5);
    EXPECT_EQ(second.left[0], 2000);
    EXPECT_EQ(second.right[0], 2005); // each channel keeps its own last frame
    changer.Reset();
    TChunk third(changer, wdInt16, {3001, 4000});
    EXPECT_EQ(third.left[0], 1500); // with 0 after a reset, truncated

    // The last frame is kept in the other modes too.
    TChangerAt switching(3);
    TChunk normal(switching, wdInt16, {0, 0, 0, 700});
    ASSERT_TRUE(switching.SetSpeed(-2));
    EXPECT_EQ(TChunk(switching, wdInt16, {100}).Left(), (std::vector<double>{400, 100}));
}

TEST(SpeedChanger, SetSpeedAcceptsTheStepsAndTheTwoModes)
{
    struct Case {
        int code;
        bool accepted;
        double speed;
        bool random, continuous;
    };
    const Case cases[] = {
        {-2, true, 0.5, false, false},    {-1, true, 2.0 / 3.0, false, false}, {0, true, 1.0, false, false},
        {1, true, 1.5, false, false},     {2, true, 2.0, false, false},        {7, true, 7.0, false, false},
        {10, true, 10.0, false, false},   {255, true, 4.0, true, false},       {4095, true, 1.25, false, true},
        {11, false, 4.0, false, false},   {-3, false, 4.0, false, false},      {254, false, 4.0, false, false},
        {4096, false, 4.0, false, false},
    };
    for (const Case& c : cases) {
        TSpeedChanger changer;
        ASSERT_TRUE(changer.SetSpeed(4));
        ASSERT_TRUE(changer.SetSpeedEx(1.25));
        EXPECT_EQ(changer.SetSpeed(c.code), c.accepted) << c.code;
        EXPECT_NEAR(changer.GetSpeed(), c.speed, 1e-6) << c.code;
        EXPECT_EQ(changer.IsRandom(), c.random) << c.code;
        EXPECT_EQ(changer.IsContinuous(), c.continuous) << c.code;
    }
    // The float that the speed notification carries is the exact step factor.
    EXPECT_EQ(TChangerAt(1).GetSpeedRatio(), 1.5f);
    EXPECT_EQ(TChangerAt(3).GetSpeedRatio(), 3.0f);
}

TEST(SpeedChanger, ContinuousModeGoesThroughTheRateConverter)
{
    TChangerAt changer(TSpeedChanger::kContinuousSpeed);
    EXPECT_FALSE(changer.SetSpeedEx(0.49)); // its output would not fit twice the input
    EXPECT_FALSE(changer.SetSpeedEx(std::nan("")));
    ASSERT_TRUE(changer.SetSpeedEx(1.5));
    EXPECT_EQ(changer.GetSpeed(), 1.5);
    EXPECT_EQ(TChunk(changer, wdInt16, std::vector<double>(588, 100.0)).frames, 392u);
    ASSERT_TRUE(changer.SetSpeedEx(0.5));
    EXPECT_EQ(TChunk(changer, wdInt16, std::vector<double>(588, 100.0)).frames, 1176u);
    int code = 0;
    EXPECT_TRUE(changer.Tick(25, &code)); // reported with every chunk
    EXPECT_EQ(code, TSpeedChanger::kContinuousSpeed);

    ASSERT_TRUE(changer.SetSpeed(2)); // back to a step: Tick has nothing to report
    EXPECT_FALSE(changer.Tick(25, &code));
    EXPECT_EQ(changer.GetSpeed(), 2.0);
}

TEST(SpeedChanger, RandomRangeIsCheckedAsAWhole)
{
    struct Case {
        int max, min, interval;
        bool stored;
    };
    const Case cases[] = {
        {10, -2, 1, true}, {3, 2, 5, true},  {11, -1, 5, false}, {3, -3, 5, false},
        {2, 2, 5, false},  {1, 2, 5, false}, {3, -1, 0, false},
    };
    for (const Case& c : cases) {
        TSpeedChanger changer;
        EXPECT_EQ(changer.SetRandomRange(c.max, c.min, c.interval), c.stored);
        EXPECT_EQ(changer.GetMaxStep(), c.stored ? c.max : 3);
        EXPECT_EQ(changer.GetMinStep(), c.stored ? c.min : -1);
        EXPECT_EQ(changer.GetInterval(), c.stored ? c.interval : 5);
    }
}

TEST(SpeedChanger, RandomModeDrawsOnTheFirstChunkAndWaitsTheInterval)
{
    // Draws 3 then 0 over -1..3: steps 2 then -1. At step 2, 5 s are 5 * 75 * 2 sectors of
    // disc, 30 chunks of 25 sectors; the draw itself was the first.
    std::vector<std::uint32_t> draws = {3, 0};
    TChangerAt changer(TSpeedChanger::kRandomSpeed);
    changer.SetRandomSource([&] {
        const std::uint32_t d = draws.front();
        draws.erase(draws.begin());
        return d;
    });
    int code = 99;
    ASSERT_TRUE(changer.Tick(25, &code));
    EXPECT_EQ(code, 2);
    EXPECT_EQ(changer.GetSpeed(), 2.0);
    EXPECT_EQ(changer.GetCountdown(), 30);
    for (int chunk = 0; chunk < 30; ++chunk)
        ASSERT_FALSE(changer.Tick(25, &code)) << chunk;
    ASSERT_TRUE(changer.Tick(25, &code));
    EXPECT_EQ(code, -1);
    EXPECT_EQ(changer.GetCountdown(), 10); // 5 s at 2/3 speed: 250 sectors
    EXPECT_TRUE(draws.empty());
}

TEST(SpeedChanger, RandomModeStaysInItsRangeAndChangesAtItsInterval)
{
    // Step -> speed num/den, to count the chunks each drawn step must last.
    const int speed[13][2] = {{1, 2}, {2, 3}, {1, 1}, {3, 2}, {2, 1}, {3, 1}, {4, 1},
                              {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1}};
    struct Case {
        int max, min, interval;
    };
    for (const Case c : {Case{3, -1, 5}, Case{10, -2, 1}, Case{0, -2, 2}}) {
        std::mt19937 engine(1234);
        TChangerAt changer(TSpeedChanger::kRandomSpeed);
        ASSERT_TRUE(changer.SetRandomRange(c.max, c.min, c.interval));
        changer.SetRandomSource([&] { return static_cast<std::uint32_t>(engine()); });
        std::mt19937 sizes(99);
        std::vector<int> seen(13, 0);
        int waiting = 0; // chunks still due at the current step
        for (int chunk = 0; chunk < 20000; ++chunk) {
            const int sectors = std::uniform_int_distribution<int>(1, 30)(sizes);
            int code = 99;
            const bool changed = changer.Tick(sectors, &code);
            ASSERT_EQ(changed, waiting == 0) << chunk;
            if (!changed) {
                --waiting;
                continue;
            }
            ASSERT_GE(code, c.min);
            ASSERT_LE(code, c.max);
            ++seen[code + 2];
            const auto [num, den] = speed[code + 2];
            waiting = c.interval * 75 * num / (den * sectors);
        }
        for (int step = c.min; step <= c.max; ++step)
            EXPECT_GT(seen[step + 2], 0) << "step " << step << " never drawn";
    }
}

TEST(SpeedChanger, DoesNothingWithoutInputOrRoutine)
{
    TSpeedChanger changer;
    EXPECT_FALSE(changer.Init(wdAc3Spdif, 44100));
    EXPECT_EQ(TChunk(changer, wdInt16, {1, 2, 3}).frames, 0u);
    for (const TWaveDataType type : kPcmTypes) {
        EXPECT_TRUE(changer.Init(type, 44100)) << int{type};
        EXPECT_EQ(TChunk(changer, type, {}).frames, 0u);
    }
}

} // namespace
} // namespace vantrel
