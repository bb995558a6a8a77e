#include "dsp/Equalizer.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
constexpr float kFreqs[TEqualizer::kBands] = {24.8f,   39.4f,   62.5f,   99.2f,   157.5f,  250.0f,   396.9f,  630.0f,
                                              1000.0f, 1587.4f, 2519.8f, 4000.0f, 6349.6f, 10079.3f, 15999.9f};

// One channel buffer, written and read as numbers: wdInt8 as its byte (128 is zero),
// wdInt24 as the signed 24-bit value, floats rounded to their width.
using testing::kPcmTypes;
using testing::Name;
using testing::TChannel;

using testing::Process;

std::vector<double> Noise(std::size_t n, unsigned seed, int amplitude)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-amplitude, amplitude);
    std::vector<double> values(n);
    for (double& v : values)
        v = sample(random);
    return values;
}

// The value of a filter's response at a frequency: the transform of its impulse response
// (long enough to have died away) at that frequency.
double ResponseAt(const std::vector<double>& impulseResponse, double frequency)
{
    std::complex<double> sum;
    for (std::size_t n = 0; n < impulseResponse.size(); ++n)
        sum += impulseResponse[n] * std::polar(1.0, -2 * kPi * frequency * static_cast<double>(n) / kRate);
    return std::abs(sum);
}

TEST(EqualizerTest, EachBandHasItsGainAtItsCentre)
{
    const std::size_t n = static_cast<std::size_t>(kRate);
    std::vector<double> impulse(n, 0.0);
    impulse[0] = 1.0;
    for (int band = 0; band < TEqualizer::kBands; ++band) {
        // +6, -6, +15 and -15 dB (the slider's ends).
        for (const double gain : {2.0, 0.5, std::pow(10.0, 0.75), std::pow(10.0, -0.75)}) {
            SCOPED_TRACE("band " + std::to_string(band) + " gain " + std::to_string(gain));
            TEqualizer eq;
            ASSERT_TRUE(eq.Init(wdFloat64S16, 44100));
            eq.SetEnabled(true);
            ASSERT_TRUE(eq.SetBandParams(band, static_cast<float>(gain), 3.0f, kFreqs[band]));
            TChannel left(wdFloat64S16, impulse), right(wdFloat64S16, impulse);
            Process(eq, left, right);
            std::vector<double> responseLeft(n), responseRight(n);
            for (std::size_t i = 0; i < n; ++i) {
                responseLeft[i] = left[i];
                responseRight[i] = right[i];
            }
            // Exact up to float arithmetic: 0.01 dB (the lowest band's normalisation loses a few
            // digits to cancellation; the highest comes within 1e-6).
            EXPECT_NEAR(ResponseAt(responseLeft, kFreqs[band]) / gain, 1.0, 1e-3);
            EXPECT_NEAR(ResponseAt(responseRight, kFreqs[band]) / gain, 1.0, 1e-3);
        }
    }
}

// A sine through one band, in steady state: amplitude out over amplitude in.
double SineGain(TBandEq& band, double frequency)
{
    const std::size_t n = 2 * static_cast<std::size_t>(kRate);
    std::vector<float> samples(n);
    for (std::size_t i = 0; i < n; ++i)
        samples[i] = static_cast<float>(1000 * std::sin(2 * kPi * frequency * static_cast<double>(i) / kRate));
    band.Process(samples.data(), samples.data(), n);
    std::complex<double> sum;
    for (std::size_t i = n / 2; i < n; ++i) // a whole number of cycles
        sum += static_cast<double>(samples[i]) * std::polar(1.0, -2 * kPi * frequency * static_cast<double>(i) / kRate);
    return 2 * std::abs(sum) / static_cast<double>(n / 2) / 1000;
}

TEST(EqualizerTest, BandRaisesASineAtItsCentreByItsGain)
{
    TBandEq band;
    ASSERT_TRUE(band.SetParams(2.0f, 3.0f, 1000.0f, 1.0f / 44100.0f));
    EXPECT_NEAR(SineGain(band, 1000), 2.0, 2e-3);

    // Parameters that describe no filter are refused and change nothing.
    for (const float bad : {0.0f, -1.0f, NAN, INFINITY}) {
        EXPECT_FALSE(band.SetParams(bad, 3.0f, 1000.0f, 1.0f / 44100.0f));
        EXPECT_FALSE(band.SetParams(2.0f, bad, 1000.0f, 1.0f / 44100.0f));
        EXPECT_FALSE(band.SetParams(2.0f, 3.0f, bad, 1.0f / 44100.0f));
        EXPECT_FALSE(band.SetParams(2.0f, 3.0f, 1000.0f, bad));
    }
    EXPECT_EQ(band.GetGain(), 2.0f);
    EXPECT_EQ(band.GetQ(), 3.0f);
    EXPECT_EQ(band.GetFreq(), 1000.0f);
    EXPECT_EQ(band.GetPeriod(), 1.0f / 44100.0f);
    band.Clear();
    EXPECT_NEAR(SineGain(band, 1000), 2.0, 2e-3);
}

// The band designed on its own: the zeros and poles of the analog section
// (s^2 + 2 zz w0 s + w0^2) / (s^2 + 2 zp w0 s + w0^2) mapped by z = e^(sT), scaled to the
// requested gain at the centre. A boost widens the zeros (zz = gain / 2Q, zp = 1 / 2Q), a
// cut the poles (zz = 1 / 2Q, zp = 1 / (2Q gain)).
double MatchedZGain(double gain, double q, double centre, double frequency)
{
    const double zetaZ = gain >= 1 ? gain / (2 * q) : 1 / (2 * q);
    const double zetaP = gain >= 1 ? 1 / (2 * q) : 1 / (2 * q * gain);
    const double w0 = 2 * kPi * centre;
    auto section = [w0](double zeta, std::complex<double> z) {
        const std::complex<double> root = std::sqrt(std::complex<double>(zeta * zeta - 1));
        return (z - std::exp(w0 * (-zeta + root) / kRate)) * (z - std::exp(w0 * (-zeta - root) / kRate));
    };
    auto response = [&](double f) {
        const std::complex<double> z = std::polar(1.0, 2 * kPi * f / kRate);
        return std::abs(section(zetaZ, z) / section(zetaP, z));
    };
    return gain * response(frequency) / response(centre);
}

TEST(EqualizerTest, BandFollowsTheMatchedZMapping)
{
    struct TCase {
        float gain, q;
    };
    // Q below 0.5, or a wide boost or cut, puts zeros or poles on the real axis.
    const TCase cases[] = {{2.0f, 3.0f}, {0.5f, 8.0f}, {0.25f, 0.3f}, {4.0f, 0.4f}, {5.6f, 1.0f}};
    const std::size_t n = static_cast<std::size_t>(kRate);
    for (const TCase& c : cases) {
        TBandEq band;
        ASSERT_TRUE(band.SetParams(c.gain, c.q, 1000.0f, 1.0f / 44100.0f));
        std::vector<float> impulse(n, 0.0f);
        impulse[0] = 1.0f;
        band.Process(impulse.data(), impulse.data(), n);
        const std::vector<double> response(impulse.begin(), impulse.end());
        for (const double f : {100.0, 333.0, 700.0, 1000.0, 1200.0, 2000.0, 5000.0, 15000.0}) {
            SCOPED_TRACE("gain " + std::to_string(c.gain) + " Q " + std::to_string(c.q) + " at " + std::to_string(f));
            EXPECT_NEAR(ResponseAt(response, f) / MatchedZGain(c.gain, c.q, 1000, f), 1.0, 1e-3);
        }
    }
}

TEST(EqualizerTest, FlatBandsPassSamplesUnchanged)
{
    TEqualizer eq;
    ASSERT_TRUE(eq.Init(wdInt16, 44100));
    eq.SetEnabled(true);
    // Any Q and centre: a band at gain 1.0 is flat.
    ASSERT_TRUE(eq.SetBandParams(3, 1.0f, 0.2f, 5000.0f));
    ASSERT_TRUE(eq.SetBandParams(14, 1.0f, 12.0f, 20.0f));
    const std::vector<double> left = Noise(20000, 1, 32768), right = Noise(20000, 2, 32768);
    TChannel l(wdInt16, left), r(wdInt16, right);
    Process(eq, l, r);
    EXPECT_EQ(l.Bytes(), TChannel(wdInt16, left).Bytes());
    EXPECT_EQ(r.Bytes(), TChannel(wdInt16, right).Bytes());

    // Floats too, bit for bit.
    ASSERT_TRUE(eq.Init(wdFloat32S16, 44100));
    std::vector<double> fractions = Noise(5000, 3, 1 << 30);
    for (double& v : fractions)
        v /= 32768.0;
    TChannel fl(wdFloat32S16, fractions), fr(wdFloat32S16, fractions);
    Process(eq, fl, fr);
    EXPECT_EQ(fl.Bytes(), TChannel(wdFloat32S16, fractions).Bytes());
}

TEST(EqualizerTest, DisabledChangesNothing)
{
    TEqualizer eq;
    ASSERT_TRUE(eq.Init(wdInt16, 44100));
    ASSERT_TRUE(eq.SetBandParams(8, 4.0f, 3.0f, 1000.0f));
    eq.SetLevel(0.5);
    eq.SetBalance(50);
    EXPECT_FALSE(eq.GetEnabled());
    const std::vector<double> samples = Noise(1000, 4, 30000);
    TChannel l(wdInt16, samples), r(wdInt16, samples);
    Process(eq, l, r);
    EXPECT_EQ(l.Bytes(), TChannel(wdInt16, samples).Bytes());
    EXPECT_EQ(r.Bytes(), TChannel(wdInt16, samples).Bytes());
}

TEST(EqualizerTest, LevelAndBalance)
{
    // The weak side is attenuated by weakDb (from k = 100 - |balance|); what it loses moves
    // to the strong side: strong = s * (1 + e) / 2 + w * (1 - e) / 2, weak = w * e.
    struct TCase {
        int balance;
        double level;
        double weakDb; // -1000: silent
    };
    const TCase cases[] = {
        {0, 0.5, 0},       {0, 2.0, 0},        {-100, 1.0, -1000}, {100, 0.5, -1000}, {50, 1.0, -12},
        {50, 2.0, -12},    {-25, 1.0, -6},     {-1, 1.0, -0.24},   {60, 1.0, -16.8},  {80, 1.0, -33.6},
        {-90, 0.7, -50.4}, {-88, 1.0, -48.48}, {-99, 1.0, -59.04}, {150, 1.0, -1000}, {-150, 1.0, -1000},
    };
    const double l = 10000, r = -3000;
    for (const TCase& c : cases) {
        SCOPED_TRACE("balance " + std::to_string(c.balance) + " level " + std::to_string(c.level));
        TEqualizer eq;
        ASSERT_TRUE(eq.Init(wdFloat64S16, 44100));
        eq.SetEnabled(true);
        eq.SetLevel(c.level);
        eq.SetBalance(c.balance);
        EXPECT_EQ(eq.GetBalance(), std::clamp(c.balance, -100, 100));
        TChannel left(wdFloat64S16, {l, l}), right(wdFloat64S16, {r, r});
        Process(eq, left, right);
        const double e = c.weakDb <= -1000 ? 0.0 : std::pow(10.0, c.weakDb / 20);
        double expectedLeft = l * c.level, expectedRight = r * c.level;
        if (c.balance < 0) {
            expectedLeft = c.level * (l * (1 + e) / 2 + r * (1 - e) / 2);
            expectedRight = c.level * r * e;
        } else if (c.balance > 0) {
            expectedRight = c.level * (r * (1 + e) / 2 + l * (1 - e) / 2);
            expectedLeft = c.level * l * e;
        }
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_NEAR(left[i], expectedLeft, 0.02);
            EXPECT_NEAR(right[i], expectedRight, 0.02);
        }
    }

    TEqualizer eq;
    eq.SetLevel(-1);
    EXPECT_EQ(eq.GetLevel(), 0.0);
}

TEST(EqualizerTest, ResultsAreClippedToTheType)
{
    struct TCase {
        TWaveDataType type;
        double sample, expected;
    };
    const TCase cases[] = {
        {wdInt8, 250, 255},
        {wdInt8, 0, 0},
        {wdInt8, 130, 132},
        {wdInt16, 20000, 32767},
        {wdInt16, -20000, -32768},
        {wdInt16, -77, -154},
        {wdInt24, 6000000, 8388607},
        {wdInt24, -6000000, -8388608},
        {wdInt24In32, 6000000, 12000000}, // headroom above 24 bits
        {wdInt32, 2000000000, 2147483647},
        {wdInt32, -2000000000, -2147483648.0},
        {wdFloat32, 0.75, 1.5},
        {wdFloat64, -0.75, -1.5},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Name(c.type) + " " + std::to_string(c.sample));
        TEqualizer eq;
        ASSERT_TRUE(eq.Init(c.type, 44100));
        eq.SetEnabled(true);
        eq.SetLevel(2.0);
        TChannel left(c.type, {c.sample}), right(c.type, {c.sample});
        Process(eq, left, right);
        EXPECT_EQ(left[0], c.expected);
        EXPECT_EQ(right[0], c.expected);
    }
}

// Bands that all do something: gains from -9 to +9 dB, Q from 1 to 8.
struct TShape {
    float gain, q;
};
TShape ShapeOf(int band)
{
    return {static_cast<float>(std::pow(10.0, ((band * 7) % 13 - 6) * 1.5 / 20)), 1.0f + static_cast<float>(band % 8)};
}
void ShapeBands(TEqualizer& eq)
{
    for (int band = 0; band < TEqualizer::kBands; ++band)
        ASSERT_TRUE(eq.SetBandParams(band, ShapeOf(band).gain, ShapeOf(band).q, kFreqs[band]));
}

TEST(EqualizerTest, BlocksOfAnySizeGiveTheCascadeOfTheBands)
{
    const std::size_t n = 6000;
    const std::vector<double> left = Noise(n, 5, 20000), right = Noise(n, 6, 20000);

    // Reference: each band over the whole signal in turn, one channel at a time.
    std::vector<float> expected[2];
    for (int c = 0; c < 2; ++c) {
        const std::vector<double>& input = c == 0 ? left : right;
        expected[c].assign(input.begin(), input.end());
        for (int k = 0; k < TEqualizer::kBands; ++k) {
            TBandEq band;
            ASSERT_TRUE(band.SetParams(ShapeOf(k).gain, ShapeOf(k).q, kFreqs[k], 1.0f / 44100.0f));
            band.Process(expected[c].data(), expected[c].data(), n);
        }
    }

    TEqualizer eq;
    ASSERT_TRUE(eq.Init(wdFloat32S16, 44100));
    eq.SetEnabled(true);
    ShapeBands(eq);
    const std::size_t lengths[] = {1, 0, 13, 14, 15, 16, 2, 29, 1000, 3};
    std::size_t at = 0, next = 0;
    while (at < n) {
        const std::size_t length = std::min(lengths[next++ % std::size(lengths)], n - at);
        const auto from = static_cast<std::ptrdiff_t>(at), to = static_cast<std::ptrdiff_t>(at + length);
        TChannel l(wdFloat32S16, {left.begin() + from, left.begin() + to});
        TChannel r(wdFloat32S16, {right.begin() + from, right.begin() + to});
        Process(eq, l, r);
        for (std::size_t i = 0; i < length; ++i) {
            ASSERT_NEAR(l[i], expected[0][at + i], 1e-2) << "left frame " << at + i << " in a block of " << length;
            ASSERT_NEAR(r[i], expected[1][at + i], 1e-2) << "right frame " << at + i << " in a block of " << length;
        }
        at += length;
    }
}

TEST(EqualizerTest, ResetStartsFromSilence)
{
    const std::vector<double> first = Noise(3000, 7, 20000), second = Noise(500, 8, 20000);
    TEqualizer used, fresh;
    for (TEqualizer* eq : {&used, &fresh}) {
        ASSERT_TRUE(eq->Init(wdInt16, 44100));
        eq->SetEnabled(true);
        ShapeBands(*eq);
    }
    TChannel l(wdInt16, first), r(wdInt16, first);
    Process(used, l, r);
    used.Reset();
    TChannel usedLeft(wdInt16, second), usedRight(wdInt16, second);
    Process(used, usedLeft, usedRight);
    TChannel freshLeft(wdInt16, second), freshRight(wdInt16, second);
    Process(fresh, freshLeft, freshRight);
    EXPECT_EQ(usedLeft.Bytes(), freshLeft.Bytes());
    EXPECT_EQ(usedRight.Bytes(), freshRight.Bytes());
}

TEST(EqualizerTest, RefusesUnknownBandsAndTypes)
{
    TEqualizer eq;
    EXPECT_FALSE(eq.SetBandParams(-1, 2.0f, 3.0f, 1000.0f));
    EXPECT_FALSE(eq.SetBandParams(TEqualizer::kBands, 2.0f, 3.0f, 1000.0f));
    EXPECT_FALSE(eq.SetBandParams(0, 0.0f, 3.0f, 1000.0f));

    EXPECT_FALSE(eq.Init(wdAc3Spdif, 44100));
    eq.SetEnabled(true);
    eq.SetLevel(0.5);
    std::vector<std::uint8_t> left(8, 0x21), right(8, 0x21);
    void* const channels[2] = {left.data(), right.data()};
    eq.Process(channels, 4);
    EXPECT_EQ(left, std::vector<std::uint8_t>(8, 0x21));
    EXPECT_EQ(right, std::vector<std::uint8_t>(8, 0x21));
}

} // namespace
} // namespace vantrel
