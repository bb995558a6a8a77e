#include "dsp/RateConverter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "StageChannel.h"
#include "dsp/FirFilter.h"

namespace vantrel {
namespace {

using testing::TChannel;
using testing::TInt8Scale;

// A stereo signal in a type, on the signed scale (wdInt8 as byte - 128); the right channel is
// the left one negated.
struct TStereo {
    TChannel left, right;
    TStereo(TWaveDataType type, std::size_t frames)
        : left(type, std::vector<double>(frames), TInt8Scale::Signed),
          right(type, std::vector<double>(frames), TInt8Scale::Signed)
    {
    }
    template <class F> static TStereo Of(TWaveDataType type, std::size_t frames, F value)
    {
        TStereo s(type, frames);
        for (std::size_t i = 0; i < frames; ++i) {
            const double v = value(i);
            s.left.Set(i, v);
            s.right.Set(i, -v);
        }
        return s;
    }
};

// Converts `in` in chunks of the given sizes (the last chunk takes the rest) and returns
// the concatenated output.
TStereo ConvertInChunks(CRateConverter& converter, double s, TStereo& in, const std::vector<std::size_t>& sizes)
{
    const TWaveDataType type = in.left.Type();
    const std::size_t frames = in.left.Size();
    TStereo out(type, static_cast<std::size_t>(std::ceil(frames / s)) + sizes.size() + 1);
    std::size_t done = 0, written = 0, chunk = 0;
    while (done < frames) {
        const std::size_t n = chunk < sizes.size() ? std::min(sizes[chunk], frames - done) : frames - done;
        ++chunk;
        const void* const channels[] = {in.left.Data(done), in.right.Data(done)};
        void* const outs[] = {out.left.Data(written), out.right.Data(written)};
        written += converter.Convert(s, channels, n, outs);
        done += n;
    }
    out.left.Resize(written);
    out.right.Resize(written);
    return out;
}

TStereo ConvertWhole(double s, TStereo& in)
{
    CRateConverter converter;
    EXPECT_TRUE(converter.Init(in.left.Type(), 44100));
    return ConvertInChunks(converter, s, in, {});
}

// The kernel from its definition, in double with the true pi and the library's Bessel
// function: a Kaiser-windowed sinc (beta for 40 dB) with its cutoff at 0.85 pi times min(1, s).
std::vector<double> ReferenceKernel(double s)
{
    const double cutoff = 0.85 * std::numbers::pi * std::min(1.0, s);
    const double beta = 0.5842 * std::pow(19.0, 0.4) + 0.07886 * 19.0;
    std::vector<double> taps(26, 0.0);
    for (int i = -12; i <= 12; ++i) {
        const double w =
            std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - (i / 12.0) * (i / 12.0))) / std::cyl_bessel_i(0.0, beta);
        taps[i + 12] = w * (i == 0 ? cutoff / std::numbers::pi : std::sin(i * cutoff) / (i * std::numbers::pi));
    }
    return taps;
}

TEST(FirFilter, DesignsTheKaiserWindowedSinc)
{
    // Design takes the rate and the edges; the cutoff is pi * (pass + stop) / rate.
    CFIRFilter filter;
    filter.Design(44100.0f, 0.35f * 44100.0f, 0.5f * 44100.0f);
    ASSERT_EQ(filter.GetTapCount(), 26);
    std::vector<float> taps(26);
    filter.GetTaps(taps.data());
    const std::vector<double> reference = ReferenceKernel(1.0);
    for (int i = 0; i < 26; ++i)
        EXPECT_NEAR(taps[i], reference[i], 2e-6) << i;
    EXPECT_NEAR(taps[12], 0.85, 1e-6);
    EXPECT_EQ(taps[25], 0.0f);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(taps[i], taps[24 - i]) << i; // linear phase
}

TEST(RateConverter, DesignsItsKernelForEachFactor)
{
    for (const double s : {1.0, 0.5, 0.75, 1.37, 2.0, 4.0}) {
        CRateConverter converter;
        ASSERT_TRUE(converter.SetRatio(s));
        EXPECT_EQ(converter.GetRatio(), s);
        EXPECT_DOUBLE_EQ(converter.GetInvRatio(), 1.0 / s);
        const std::vector<double> reference = ReferenceKernel(s);
        const auto& kernel = converter.GetKernel();
        const auto& slope = converter.GetSlope();
        for (int j = 0; j < 26; ++j)
            EXPECT_NEAR(kernel[j], reference[j], 2e-6) << "s " << s << " tap " << j;
        for (int j = 0; j < 25; ++j)
            EXPECT_EQ(slope[j], kernel[j + 1] - kernel[j]) << "s " << s << " tap " << j;
    }
}

TEST(RateConverter, KeepsKernelAndPositionForTheSameFactorAndRestartsForANewOne)
{
    CRateConverter converter;
    ASSERT_TRUE(converter.Init(wdFloat32S16, 44100));
    TStereo in = TStereo::Of(wdFloat32S16, 589, [](std::size_t i) { return static_cast<double>(i % 7); });
    TStereo out(wdFloat32S16, 600);
    const void* const channels[] = {in.left.Data(), in.right.Data()};
    void* const outs[] = {out.left.Data(), out.right.Data()};
    ASSERT_EQ(converter.Convert(1.5, channels, 589, outs), 393u);
    EXPECT_EQ(converter.GetFrac(), 0.5f);
    const auto kernel = converter.GetKernel();

    EXPECT_TRUE(converter.SetRatio(1.5));
    EXPECT_EQ(converter.GetFrac(), 0.5f);
    EXPECT_EQ(converter.GetKernel(), kernel);

    EXPECT_TRUE(converter.SetRatio(0.75)); // below 1 the cutoff follows the factor
    EXPECT_EQ(converter.GetFrac(), 0.0f);
    EXPECT_NE(converter.GetKernel(), kernel);

    for (const double bad : {0.0, -1.0, std::nan(""), HUGE_VAL, 1e6}) {
        EXPECT_FALSE(converter.SetRatio(bad)) << bad;
        EXPECT_EQ(converter.Convert(bad, channels, 589, outs), 0u) << bad;
    }
    EXPECT_EQ(converter.GetRatio(), 0.75);
}

TEST(RateConverter, OutputFramesFollowTheReadPosition)
{
    // One output per step of s while the position is below the chunk's length; what is left
    // of the last step carries into the next chunk.
    struct Case {
        double s;
        std::vector<std::size_t> chunks;
        std::vector<std::size_t> outputs;
        double carried;
    };
    const Case cases[] = {
        {1.0, {588}, {588}, 0.0},
        {2.0, {588}, {294}, 0.0},
        {0.5, {588}, {1176}, 0.0},
        {1.5, {588}, {392}, 0.0},                     // positions 0, 1.5 .. 586.5; 588.0 is the next
        {1.5, {589, 589, 589}, {393, 393, 392}, 0.0}, // carries 0.5, then 1.0, then 0
        {0.75, {100, 100}, {134, 133}, 0.25},
        {2.5, {3, 1, 1, 4}, {2, 0, 0, 2}, 1.0}, // a step longer than a chunk passes over it
    };
    for (const Case& c : cases) {
        CRateConverter converter;
        ASSERT_TRUE(converter.Init(wdInt16, 44100));
        std::vector<std::size_t> outputs;
        for (const std::size_t n : c.chunks) {
            TStereo in(wdInt16, n);
            TStereo out(wdInt16, 2 * n + 2);
            const void* const channels[] = {in.left.Data(), in.right.Data()};
            void* const outs[] = {out.left.Data(), out.right.Data()};
            outputs.push_back(converter.Convert(c.s, channels, n, outs));
        }
        EXPECT_EQ(outputs, c.outputs) << "s " << c.s;
        EXPECT_EQ(converter.GetPosition(), c.carried) << "s " << c.s;
    }
}

TEST(RateConverter, ChunksOfAnySizeGiveTheSamplesOfOnePiece)
{
    std::mt19937 random(7);
    for (const TWaveDataType type : {wdInt16, wdFloat32S16}) {
        for (const double s : {0.5, 0.75, 1.0, 1.37, 1.5, 2.5, 3.3}) {
            std::uniform_real_distribution<double> noise(-3000.0, 3000.0);
            TStereo in = TStereo::Of(type, 20000, [&](std::size_t i) {
                return 12000.0 * std::sin(0.05 * static_cast<double>(i)) + noise(random);
            });
            const TStereo whole = ConvertWhole(s, in);

            // Sizes from 1 frame (shorter than the history) to a few thousand.
            std::vector<std::size_t> sizes;
            std::uniform_int_distribution<std::size_t> small(1, 40), large(41, 3000);
            for (int k = 0; k < 60; ++k)
                sizes.push_back(k % 3 == 0 ? small(random) : large(random));
            CRateConverter converter;
            ASSERT_TRUE(converter.Init(type, 44100));
            const TStereo chunked = ConvertInChunks(converter, s, in, sizes);

            EXPECT_NEAR(static_cast<double>(whole.left.Size()), 20000.0 / s, 1.0) << "s " << s;
            EXPECT_EQ(chunked.left.Bytes(), whole.left.Bytes()) << "type " << int{type} << " s " << s;
            EXPECT_EQ(chunked.right.Bytes(), whole.right.Bytes()) << "type " << int{type} << " s " << s;
        }
    }
}

TEST(RateConverter, ComputesTheInterpolatedKernelSum)
{
    // Output k sits at p = k * s: with m = floor(p) and f = p - m it is
    // sum over j of (kernel[j] + f * slope[j]) * x[m - 2 - j], x before the stream being 0
    // (26 history frames, of which the kernel reaches back 24).
    for (const double s : {1.0, 1.5, 0.75, 1.37}) {
        TStereo in = TStereo::Of(wdFloat32S16, 3000, [](std::size_t i) {
            return 10000.0 * std::sin(0.3 * static_cast<double>(i)) + 50.0 * static_cast<double>(i % 11);
        });
        CRateConverter converter;
        ASSERT_TRUE(converter.Init(wdFloat32S16, 44100));
        TStereo out = ConvertInChunks(converter, s, in, {700, 700, 700});
        const auto& kernel = converter.GetKernel();
        const auto& slope = converter.GetSlope();
        for (std::size_t k = 0; k < out.left.Size(); ++k) {
            const double p = static_cast<double>(k) * s;
            const auto m = static_cast<long>(std::floor(p));
            const double f = p - static_cast<double>(m);
            double expected = 0.0;
            for (int j = 0; j < 25; ++j) {
                const long index = m - 2 - j;
                if (index >= 0)
                    expected += (kernel[j] + f * slope[j]) * in.left[static_cast<std::size_t>(index)];
            }
            ASSERT_NEAR(out.left[k], expected, 0.02) << "s " << s << " output " << k;
            ASSERT_NEAR(out.right[k], -expected, 0.02) << "s " << s << " output " << k;
        }
    }
}

TEST(RateConverter, DelaysByFourteenFramesAtFactorOne)
{
    TStereo in = TStereo::Of(wdFloat32S16, 300, [](std::size_t i) { return i == 100 ? 1000.0 : 0.0; });
    const TStereo out = ConvertWhole(1.0, in);
    TChannel left = out.left;
    std::size_t peak = 0;
    for (std::size_t i = 0; i < left.Size(); ++i) {
        if (std::abs(left[i]) > std::abs(left[peak]))
            peak = i;
    }
    EXPECT_EQ(peak, 114u);
    EXPECT_NEAR(left[peak], 850.0, 0.01);
}

// Frequency of a sine from the rising zero crossings between `from` and the end, each
// crossing placed by linear interpolation.
double MeasureFrequency(TChannel& channel, std::size_t from, double rate)
{
    std::vector<double> crossings;
    for (std::size_t i = from + 1; i < channel.Size(); ++i) {
        const double a = channel[i - 1], b = channel[i];
        if (a < 0.0 && b >= 0.0)
            crossings.push_back(static_cast<double>(i - 1) + a / (a - b));
    }
    if (crossings.size() < 2)
        return 0.0;
    return static_cast<double>(crossings.size() - 1) * rate / (crossings.back() - crossings.front());
}

TEST(RateConverter, ShiftsASineByTheFactor)
{
    // 1 kHz read s frames per output frame comes out at s kHz, at its level.
    for (const double s : {1.5, 0.75}) {
        TStereo in = TStereo::Of(wdInt16, 44100, [](std::size_t i) {
            return 10000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 44100.0);
        });
        CRateConverter converter;
        ASSERT_TRUE(converter.Init(wdInt16, 44100));
        TStereo out = ConvertInChunks(converter, s, in, std::vector<std::size_t>(100, 588));
        EXPECT_NEAR(MeasureFrequency(out.left, 100, 44100.0), 1000.0 * s, 0.5) << s;
        EXPECT_NEAR(MeasureFrequency(out.right, 100, 44100.0), 1000.0 * s, 0.5) << s;
        double peak = 0.0;
        for (std::size_t i = 100; i < out.left.Size(); ++i)
            peak = std::max(peak, std::abs(out.left[i]));
        EXPECT_NEAR(peak, 10000.0, 150.0) << s;
    }
}

TEST(RateConverter, HandlesEveryPcmTypeAndLimitsOvershoot)
{
    // A constant comes out scaled by the kernel's DC gain once the history is filled; a
    // full-scale square wave rings past full scale and must be limited, not wrapped.
    struct Case {
        TWaveDataType type;
        double level;
        double low, high; // range of the stored value
    };
    const Case cases[] = {
        {wdInt8, 100, -128, 127},
        {wdInt16, -20000, -32768, 32767},
        {wdInt24, 5000000, -8388608, 8388607},
        {wdInt24In32, -5000000, -2147483648.0, 2147483647.0},
        {wdInt32, 1500000000, -2147483648.0, 2147483647.0},
        {wdFloat32, 0.5, -HUGE_VAL, HUGE_VAL},
        {wdFloat64, -0.5, -HUGE_VAL, HUGE_VAL},
        {wdFloat32S16, 20000, -HUGE_VAL, HUGE_VAL},
        {wdFloat64S16, -20000, -HUGE_VAL, HUGE_VAL},
    };
    for (const Case& c : cases) {
        double gain = 0.0;
        {
            CRateConverter converter;
            for (const float tap : converter.GetKernel())
                gain += tap;
        }
        TStereo flat = TStereo::Of(c.type, 200, [&](std::size_t) { return c.level; });
        TStereo out = ConvertWhole(1.0, flat);
        ASSERT_EQ(out.left.Size(), 200u) << int{c.type};
        const bool isFloat = c.high == HUGE_VAL;
        const double tolerance = std::abs(c.level) * 1e-5 + (isFloat ? 0.0 : 1.0);
        EXPECT_NEAR(out.left[150], c.level * gain, tolerance) << int{c.type};
        EXPECT_NEAR(out.right[150], -c.level * gain, tolerance) << int{c.type};

        if (isFloat || c.type == wdInt24In32)
            continue; // floats and the 24-bit scale in 32 bits have room for the ringing
        TStereo square = TStereo::Of(c.type, 400, [&](std::size_t i) { return (i / 50) % 2 ? c.low : c.high; });
        TStereo rung = ConvertWhole(1.0, square);
        int atHigh = 0, atLow = 0;
        for (std::size_t i = 40; i < rung.left.Size(); ++i) {
            // Away from the edges (input frame i - 14) the sign must be the square's.
            const std::size_t phase = (i - 14) % 50;
            if (phase > 3 && phase < 47) {
                ASSERT_EQ(rung.left[i] > 0, ((i - 14) / 50) % 2 == 0) << int{c.type} << " frame " << i;
            }
            atHigh += rung.left[i] == c.high;
            atLow += rung.left[i] == c.low;
        }
        EXPECT_GT(atHigh, 0) << int{c.type};
        EXPECT_GT(atLow, 0) << int{c.type};
    }
}

TEST(RateConverter, ResetForgetsTheHistory)
{
    TStereo loud = TStereo::Of(wdInt16, 100, [](std::size_t i) { return i % 2 ? 30000.0 : -30000.0; });
    TStereo quiet(wdInt16, 100);
    CRateConverter converter;
    ASSERT_TRUE(converter.Init(wdInt16, 44100));
    ConvertInChunks(converter, 1.0, loud, {});
    const TStereo ringing = ConvertInChunks(converter, 1.0, quiet, {});
    EXPECT_NE(ringing.left.Bytes(), quiet.left.Bytes());
    converter.Reset();
    const TStereo silent = ConvertInChunks(converter, 1.0, quiet, {});
    EXPECT_EQ(silent.left.Bytes(), quiet.left.Bytes());
    EXPECT_EQ(silent.right.Bytes(), quiet.right.Bytes());
}

TEST(RateConverter, HasNoRoutineBeyondThePcmTypes)
{
    CRateConverter converter;
    EXPECT_FALSE(converter.Init(wdAc3Spdif, 44100));
    EXPECT_FALSE(converter.HasRoutine());
    TStereo in(wdInt16, 10), out(wdInt16, 20);
    const void* const channels[] = {in.left.Data(), in.right.Data()};
    void* const outs[] = {out.left.Data(), out.right.Data()};
    EXPECT_EQ(converter.Convert(1.0, channels, 10, outs), 0u);
    EXPECT_TRUE(converter.Init(wdFloat64S16, 48000));
    EXPECT_EQ(converter.Convert(1.0, channels, 0, outs), 0u);
}

} // namespace
} // namespace vantrel
