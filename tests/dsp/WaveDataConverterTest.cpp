#include "dsp/WaveDataConverter.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SampleValues.h"

namespace vantrel {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInt32Min = -2147483648.0;

enum class TWay { Split, Join };

using testing::IsFloat;
using testing::kPcmTypes;
using testing::Name;
using testing::ReadSample;
using testing::WriteSample;

// Samples as they sit in a buffer. Values are given as numbers: wdInt8 as its byte (128 is
// zero), wdInt24 as the signed value, floats rounded to their width.
using TBytes = std::vector<std::uint8_t>;

template <class T> TBytes BytesOf(T value)
{
    TBytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

TBytes Encode(TWaveDataType type, double value)
{
    TBytes bytes(GetDataBytes(type));
    WriteSample(type, bytes.data(), value);
    return bytes;
}

double Silence(TWaveDataType type)
{
    return type == wdInt8 ? 128.0 : 0.0;
}

// One sample through a one-channel converter in the given direction.
TBytes ConvertOne(TWaveDataType source, const TBytes& in, TWaveDataType destination, TWay way)
{
    TWaveDataConverter converter;
    converter.SetFormats(source, destination);
    converter.SetChannels(1);
    TBytes out(GetDataBytes(destination), 0xEE);
    void* const planes[] = {out.data()};
    const void* const sources[] = {in.data()};
    const std::size_t written = way == TWay::Split ? converter.Deinterleave(1, in.data(), planes)
                                                   : converter.Interleave(1, sources, out.data());
    EXPECT_EQ(written, out.size());
    return out;
}

void ExpectConverts(TWaveDataType source, double input, TWaveDataType destination, double expected, TWay way)
{
    const TBytes out = ConvertOne(source, Encode(source, input), destination, way);
    const double got = ReadSample(destination, out.data());
    std::ostringstream what;
    what.precision(17);
    what << Name(source) << ' ' << input << " -> " << Name(destination) << (way == TWay::Split ? " (split)" : " (join)")
         << ": got " << got << ", expected " << expected;
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(got)) << what.str();
    else
        EXPECT_EQ(out, Encode(destination, expected)) << what.str();
}

// Each source's extreme through every destination, in destination code order.
struct TMatrixRow {
    TWaveDataType source;
    double input;
    std::array<double, 9> output;
};

void CheckMatrix(const TMatrixRow* rows, std::size_t count)
{
    for (std::size_t r = 0; r < count; ++r) {
        const TMatrixRow& row = rows[r];
        for (const TWaveDataType destination : kPcmTypes) {
            ExpectConverts(row.source, row.input, destination, row.output[destination], TWay::Join);
            // The one pair whose rule depends on the direction has a test of its own.
            if (!(row.source == wdInt32 && (destination == wdFloat32 || destination == wdFloat64)))
                ExpectConverts(row.source, row.input, destination, row.output[destination], TWay::Split);
        }
    }
}

TEST(WaveDataConverter, PositiveFullScaleThroughEveryPair)
{
    constexpr double k24 = 2147483392.0 / 2147483649.0; // (v * 256) / (2^31 + 1)
    const TMatrixRow rows[] = {
        //          Int8 Int16  Int24    Int24In32 Int32 Float32 Float64 Float32S16 Float64S16
        {wdInt8, 255, {255, 32512, 8323072, 8323072, 2130706432, 0.9921875, 0.9921875, 32512, 32512}},
        {wdInt16, 32767, {255, 32767, 8388352, 8388352, 2147418112, 32767 / 32768.0, 32767 / 32768.0, 32767, 32767}},
        {wdInt24, 8388607, {255, 32767, 8388607, 8388607, 2147483392, k24, k24, 32767.99609375, 32767.99609375}},
        {wdInt24In32,
         8388607,
         {255, 32767, 8388607, 8388607, 2147483647, 8388607 / 8388608.0, 8388607 / 8388608.0, 32767.99609375,
          32767.99609375}},
        {wdInt32,
         2147483647,
         {255, 32767, 8388607, 8388607, 2147483647, 2147483647 / 2147483648.0, 2147483647 / 2147483648.0,
          2147483647 / 65536.0, 2147483647 / 65536.0}},
        {wdFloat32, 1.0, {255, 32767, 8388607, 8388607, 2147483647, 1.0, 1.0, 32767, 32767}},
        {wdFloat64, 1.0, {255, 32767, 8388607, 8388607, 2147483647, 1.0, 1.0, 32767, 32767}},
        {wdFloat32S16,
         32767,
         {255, 32767, 8388352, 8388352, 2147418112, 32767 / 32768.0, 32767 / 32768.0, 32767, 32767}},
        {wdFloat64S16,
         32767,
         {255, 32767, 8388352, 8388352, 2147418112, 32767 / 32768.0, 32767 / 32768.0, 32767, 32767}},
    };
    CheckMatrix(rows, std::size(rows));
}

TEST(WaveDataConverter, NegativeFullScaleThroughEveryPair)
{
    constexpr double k24 = kInt32Min / 2147483649.0;
    const TMatrixRow rows[] = {
        //          Int8 Int16   Int24     Int24In32 Int32   Float32 Float64 Float32S16 Float64S16
        {wdInt8, 0, {0, -32768, -8388608, -8388608, kInt32Min, -1.0, -1.0, -32768, -32768}},
        {wdInt16, -32768, {0, -32768, -8388608, -8388608, kInt32Min, -1.0, -1.0, -32768, -32768}},
        {wdInt24, -8388608, {0, -32768, -8388608, -8388608, kInt32Min, k24, k24, -32768, -32768}},
        {wdInt24In32, -8388608, {0, -32768, -8388608, -8388608, kInt32Min, -1.0, -1.0, -32768, -32768}},
        {wdInt32, kInt32Min, {0, -32768, -8388608, -8388608, kInt32Min, -1.0, -1.0, -32768, -32768}},
        // Floats scale by 32767 on the way to 16 bits, so -1.0 stops short of the bottom.
        {wdFloat32, -1.0, {0, -32767, -8388608, -8388607, kInt32Min, -1.0, -1.0, -32767, -32767}},
        {wdFloat64, -1.0, {0, -32767, -8388608, -8388607, kInt32Min, -1.0, -1.0, -32767, -32767}},
        {wdFloat32S16, -32768, {0, -32768, -8388608, -8388608, kInt32Min, -1.0, -1.0, -32768, -32768}},
        {wdFloat64S16, -32768, {0, -32768, -8388608, -8388608, kInt32Min, -1.0, -1.0, -32768, -32768}},
    };
    CheckMatrix(rows, std::size(rows));
}

TEST(WaveDataConverter, SilenceStaysSilenceThroughEveryPair)
{
    for (const TWaveDataType source : kPcmTypes)
        for (const TWaveDataType destination : kPcmTypes)
            for (const TWay way : {TWay::Split, TWay::Join})
                ExpectConverts(source, Silence(source), destination, Silence(destination), way);
}

TEST(WaveDataConverter, TruncatesTowardZeroAndClips)
{
    struct Case {
        TWaveDataType source;
        double input;
        TWaveDataType destination;
        double expected;
    };
    const Case cases[] = {
        // Float to 16 bits: scale by 32767, truncate toward zero, clip.
        {wdFloat32, 0.0, wdInt16, 0},
        {wdFloat32, 1.0, wdInt16, 32767},
        {wdFloat32, -1.0, wdInt16, -32767},
        {wdFloat32, 1.5, wdInt16, 32767},
        {wdFloat32, -1.5, wdInt16, -32768},
        {wdFloat64, -1.9 / 32767, wdInt16, -1},
        {wdFloat64, 0.9 / 32767, wdInt16, 0},
        {wdFloat32S16, 32767.9, wdInt16, 32767},
        {wdFloat32S16, -0.9, wdInt16, 0},
        {wdFloat32S16, -32768.9, wdInt16, -32768},
        {wdFloat64S16, 40000.0, wdInt16, 32767},
        {wdFloat64S16, -1.5, wdInt16, -1},
        // Narrowing integers shift, so they round toward minus infinity.
        {wdInt16, -1, wdInt8, 127},
        {wdInt16, 0, wdInt8, 128},
        {wdInt16, -32768, wdInt8, 0},
        {wdInt16, 32767, wdInt8, 255},
        {wdInt16, 255, wdInt8, 128},
        {wdInt24, -1, wdInt16, -1},
        {wdInt32, 65535, wdInt16, 0},
        {wdInt32, -1, wdInt24, -1},
        // Float to 8 bits: trunc((x + 1) * 128), or trunc(x / 256 + 128) on the 16-bit scale.
        {wdFloat32, 0.0, wdInt8, 128},
        {wdFloat32, 1.0, wdInt8, 255},
        {wdFloat32, -1.0, wdInt8, 0},
        {wdFloat32, -2.0, wdInt8, 0},
        {wdFloat32, -1.0 / 256, wdInt8, 127},
        {wdFloat64, -1e-17, wdInt8, 127}, // x + 1 rounds to 1 in double; the rule's value does not
        {wdFloat32S16, -0.001, wdInt8, 127},
        {wdFloat32S16, 255.9, wdInt8, 128},
        {wdFloat32S16, 256.0, wdInt8, 129},
        {wdFloat64S16, -1e-300, wdInt8, 127},
        {wdFloat64S16, 1e9, wdInt8, 255},
        // 24 bits in 32 may exceed the 24-bit scale until converted to another type.
        {wdInt24In32, 9000000, wdInt8, 255},
        {wdInt24In32, 9000000, wdInt16, 32767},
        {wdInt24In32, 9000000, wdInt24, 8388607},
        {wdInt24In32, 9000000, wdInt32, 2147483647},
        {wdInt24In32, 9000000, wdFloat32, 8388607 / 8388608.0},
        {wdInt24In32, 9000000, wdFloat32S16, 35156.25}, // no limit on the 16-bit scale
        {wdInt24In32, -9000000, wdInt8, 0},
        {wdInt24In32, -9000000, wdInt16, -32768},
        {wdInt24In32, -9000000, wdInt24, -8388608},
        {wdInt24In32, -9000000, wdInt32, kInt32Min},
        {wdInt24In32, -9000000, wdFloat64, -1.0},
        {wdInt24In32, 8388606, wdInt32, 2147483136},
        {wdInt24In32, -8388607, wdInt32, -2147483392},
        {wdInt24In32, 2147483647, wdInt16, 32767},
        {wdInt24In32, kInt32Min, wdInt8, 0},
        // Float to 24 and 32 bits saturates at 2^31; packed 24 bits keep the top 24 of them.
        {wdFloat64, 2.0, wdInt32, 2147483647},
        {wdFloat64, 2.0, wdInt24, 8388607},
        {wdFloat64, -2.0, wdInt32, kInt32Min},
        {wdFloat64, -2.0, wdInt24, -8388608},
        {wdFloat32, 1.0f - 0x1p-24f, wdInt32, 2147483520},
        {wdFloat64, -0.5 / 8388608, wdInt24, -1}, // -128 on the 32-bit scale, shifted down
        {wdFloat64, 0.5 / 8388608, wdInt24, 0},
        {wdFloat64S16, 32768.0, wdInt32, 2147483647},
        {wdFloat64S16, -40000.0, wdInt24, -8388608},
        // Into 24 bits in 32 there is no 24-bit limit, only the container's.
        {wdFloat32, 2.0, wdInt24In32, 16777214},
        {wdFloat32, -0.99999, wdInt24In32, -8388523},
        {wdFloat32S16, 40000.0, wdInt24In32, 10240000},
        {wdFloat64, 1e10, wdInt24In32, 2147483647},
        {wdFloat64S16, -1e10, wdInt24In32, kInt32Min},
        // Between floats only precision and scale change.
        {wdFloat32, 0.5, wdFloat32S16, 16383.5},
        {wdFloat32S16, 16384.0, wdFloat64, 0.5},
        {wdFloat64, 0.1, wdFloat32, 0.1},
        {wdFloat64S16, 1e300, wdFloat32S16, kInf},
        {wdFloat32, -1.0, wdFloat32S16, -32767},
        {wdFloat32S16, -32767, wdFloat32, -32767 / 32768.0}, // so -1.0 comes back a little quieter
    };
    for (const Case& c : cases)
        for (const TWay way : {TWay::Split, TWay::Join})
            ExpectConverts(c.source, c.input, c.destination, c.expected, way);
}

TEST(WaveDataConverter, NanAndInfinitiesGiveDefinedValues)
{
    // Into integers NaN is silence and infinities clip (the sanitizer build checks every cast).
    struct Bounds {
        TWaveDataType type;
        double top;
        double bottom;
    };
    const Bounds integers[] = {
        {wdInt8, 255, 0},
        {wdInt16, 32767, -32768},
        {wdInt24, 8388607, -8388608},
        {wdInt24In32, 2147483647, kInt32Min},
        {wdInt32, 2147483647, kInt32Min},
    };
    for (const TWaveDataType source : {wdFloat32, wdFloat64, wdFloat32S16, wdFloat64S16}) {
        const double largest =
            GetDataBytes(source) == 4 ? std::numeric_limits<float>::max() : std::numeric_limits<double>::max();
        for (const TWay way : {TWay::Split, TWay::Join}) {
            for (const Bounds& b : integers) {
                ExpectConverts(source, kNan, b.type, Silence(b.type), way);
                ExpectConverts(source, -kNan, b.type, Silence(b.type), way);
                ExpectConverts(source, kInf, b.type, b.top, way);
                ExpectConverts(source, largest, b.type, b.top, way);
                ExpectConverts(source, -kInf, b.type, b.bottom, way);
                ExpectConverts(source, -largest, b.type, b.bottom, way);
            }
            // Between floats they are carried on.
            for (const TWaveDataType destination : {wdFloat32, wdFloat64, wdFloat32S16, wdFloat64S16}) {
                ExpectConverts(source, kNan, destination, kNan, way);
                ExpectConverts(source, kInf, destination, kInf, way);
                ExpectConverts(source, -kInf, destination, -kInf, way);
            }
        }
    }
}

TEST(WaveDataConverter, Int32ToUnitFloatsDividesBy2Pow31PlusOneOnlyWhenSplitting)
{
    for (const TWaveDataType destination : {wdFloat32, wdFloat64}) {
        for (const double v : {2147483647.0, kInt32Min, 1073741824.0, -3.0, 1.0}) {
            ExpectConverts(wdInt32, v, destination, v / 2147483649.0, TWay::Split);
            ExpectConverts(wdInt32, v, destination, v / 2147483648.0, TWay::Join);
        }
    }
}

TEST(WaveDataConverter, Packed24BitSamplesAreThreeLittleEndianBytes)
{
    struct Case {
        TWaveDataType source;
        TBytes in;
        TWaveDataType destination;
        TBytes out;
    };
    const Case cases[] = {
        // into packed 24 bits
        {wdInt16, {0x34, 0x12}, wdInt24, {0x00, 0x34, 0x12}},
        {wdInt16, {0xFE, 0xFF}, wdInt24, {0x00, 0xFE, 0xFF}},
        {wdInt8, {0x81}, wdInt24, {0x00, 0x00, 0x01}},
        {wdInt24In32, {0x56, 0x34, 0x12, 0x00}, wdInt24, {0x56, 0x34, 0x12}},
        {wdInt32, {0x78, 0x56, 0x34, 0x12}, wdInt24, {0x56, 0x34, 0x12}},
        {wdFloat64, BytesOf(2.0), wdInt24, {0xFF, 0xFF, 0x7F}},
        {wdFloat64, BytesOf(-2.0), wdInt24, {0x00, 0x00, 0x80}},
        {wdFloat32S16, BytesOf(-1.0f), wdInt24, {0x00, 0xFF, 0xFF}},
        // out of packed 24 bits
        {wdInt24, {0x00, 0x00, 0x80}, wdInt16, {0x00, 0x80}},
        {wdInt24, {0x00, 0x00, 0x80}, wdInt32, {0x00, 0x00, 0x00, 0x80}},
        {wdInt24, {0x00, 0x00, 0x80}, wdInt24In32, {0x00, 0x00, 0x80, 0xFF}},
        {wdInt24, {0xFF, 0xFF, 0x7F}, wdInt16, {0xFF, 0x7F}},
        {wdInt24, {0xFF, 0xFF, 0x7F}, wdInt8, {0xFF}},
        {wdInt24, {0x56, 0x34, 0x12}, wdInt32, {0x00, 0x56, 0x34, 0x12}},
        {wdInt24, {0xFF, 0xFF, 0xFF}, wdInt16, {0xFF, 0xFF}},
        {wdInt24, {0xFF, 0xFF, 0xFF}, wdInt8, {0x7F}},
        {wdInt24, {0x00, 0xFF, 0xFF}, wdFloat32S16, BytesOf(-1.0f)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertOne(c.source, c.in, c.destination, TWay::Split), c.out) << Name(c.source) << " split";
        EXPECT_EQ(ConvertOne(c.source, c.in, c.destination, TWay::Join), c.out) << Name(c.source) << " join";
    }
}

// Stereo samples of a type: every value the type has for 8 and 16 bits, a spread with the
// extremes for 24 bits, random bit patterns (no NaN) for floats.
TBytes StereoSamplesOf(TWaveDataType type)
{
    std::vector<double> values;
    if (type == wdInt8 || type == wdInt16) {
        const int lowest = type == wdInt8 ? 0 : -32768;
        const int count = type == wdInt8 ? 256 : 65536;
        for (int i = 0; i < count; ++i)
            values.push_back(lowest + i);
    } else if (type == wdInt24 || type == wdInt24In32) {
        for (int v = -8388608; v < 8388608 - 257; v += 257)
            values.push_back(v);
        for (const int v : {-8388608, -8388607, -1, 0, 1, 8388606, 8388607})
            values.push_back(v);
    }
    TBytes bytes;
    for (const double v : values) {
        const TBytes one = Encode(type, v);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    if (IsFloat(type)) {
        std::mt19937_64 random(GetDataBytes(type));
        const bool narrow = GetDataBytes(type) == 4;
        for (int i = 0; i < 20000; ++i) {
            const std::uint64_t bits = random();
            const double v = narrow ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)))
                                    : std::bit_cast<double>(bits);
            if (!std::isnan(v)) {
                const TBytes one = Encode(type, v);
                bytes.insert(bytes.end(), one.begin(), one.end());
            }
        }
        for (const double v : {0.0, -0.0, 1.0, -1.0, kInf, -kInf}) {
            const TBytes one = Encode(type, v);
            bytes.insert(bytes.end(), one.begin(), one.end());
        }
    }
    const std::size_t pair = 2 * static_cast<std::size_t>(GetDataBytes(type));
    bytes.resize((bytes.size() + pair - 1) / pair * pair, 0);
    return bytes;
}

TEST(WaveDataConverter, WiderTypesCarryNarrowerOnesLosslessly)
{
    // A type, split into each of these and joined back, comes out as it went in. Not in the
    // list: the unit-scale floats for 16 and 24 bits (the scale factors are not inverses) and
    // anything for int32 (nothing wider holds it in the split direction).
    struct Trip {
        TWaveDataType type;
        std::vector<TWaveDataType> via;
    };
    const Trip trips[] = {
        {wdInt8, {wdInt16, wdInt24, wdInt24In32, wdInt32, wdFloat32, wdFloat64, wdFloat32S16, wdFloat64S16}},
        {wdInt16, {wdInt24, wdInt24In32, wdInt32, wdFloat32S16, wdFloat64S16}},
        {wdInt24, {wdInt24In32, wdInt32, wdFloat32S16, wdFloat64S16}},
        {wdInt24In32, {wdInt24, wdInt32, wdFloat32S16, wdFloat64S16}},
        {wdFloat32, {wdFloat64}},
        {wdFloat32S16, {wdFloat64S16}},
    };
    for (const Trip& trip : trips) {
        const TBytes in = StereoSamplesOf(trip.type);
        const std::size_t frames = in.size() / (2 * GetDataBytes(trip.type));
        for (const TWaveDataType via : trip.via) {
            TWaveDataConverter split, join;
            split.SetFormats(trip.type, via);
            join.SetFormats(via, trip.type);
            TBytes left(frames * GetDataBytes(via)), right(left.size()), out(in.size(), 0xEE);
            void* const planes[] = {left.data(), right.data()};
            const void* const sources[] = {left.data(), right.data()};
            ASSERT_EQ(split.Deinterleave(frames, in.data(), planes), left.size());
            ASSERT_EQ(join.Interleave(frames, sources, out.data()), out.size());
            EXPECT_TRUE(out == in) << Name(trip.type) << " via " << Name(via);
        }
    }
}

TEST(WaveDataConverter, SixteenBitAudioCrossesEveryWideInternalTypeUnchanged)
{
    // As the output manager hands disc audio on: split 16-bit stereo into one buffer per
    // channel of the internal type, then join those into the output type. For any internal
    // type wider than 8 bits the result equals converting the 16-bit audio directly.
    constexpr std::size_t frames = 65536;
    std::vector<std::int16_t> disc(2 * frames);
    for (int j = 0; j < static_cast<int>(frames); ++j) {
        disc[2 * j] = static_cast<std::int16_t>(j - 32768);     // every value on the left
        disc[2 * j + 1] = static_cast<std::int16_t>(32767 - j); // in reverse on the right
    }
    std::vector<std::int16_t> left16(frames), right16(frames);
    void* const planes16[] = {left16.data(), right16.data()};
    const void* const sources16[] = {left16.data(), right16.data()};
    TWaveDataConverter copy;
    ASSERT_EQ(copy.Deinterleave(frames, disc.data(), planes16), 2 * frames);
    EXPECT_EQ(left16[0], -32768);
    EXPECT_EQ(right16[0], 32767);
    EXPECT_EQ(left16[frames - 1], 32767);

    for (int internalPosition = 1; internalPosition < 6; ++internalPosition) {
        const TWaveDataType internal = InternalTypeFromList(internalPosition);
        TWaveDataConverter toInternal;
        toInternal.SetFormats(wdInt16, internal);
        TBytes left(frames * GetDataBytes(internal)), right(left.size());
        void* const planes[] = {left.data(), right.data()};
        const void* const sources[] = {left.data(), right.data()};
        ASSERT_EQ(toInternal.Deinterleave(frames, disc.data(), planes), left.size());

        for (int outputPosition = 0; outputPosition < 6; ++outputPosition) {
            const TWaveDataType output = OutputTypeFromList(outputPosition);
            TWaveDataConverter toOutput, direct;
            toOutput.SetFormats(internal, output);
            direct.SetFormats(wdInt16, output);
            TBytes chained(2 * frames * GetDataBytes(output), 0xEE), expected(chained.size(), 0x11);
            ASSERT_EQ(toOutput.Interleave(frames, sources, chained.data()), chained.size());
            ASSERT_EQ(direct.Interleave(frames, sources16, expected.data()), expected.size());
            EXPECT_TRUE(chained == expected) << "through " << Name(internal) << " to " << Name(output);
        }
    }
}

TEST(WaveDataConverter, SplitsAndJoinsChannelsByPosition)
{
    // Three frames of stereo: L0 R0 L1 R1 L2 R2 become L0 L1 L2 and R0 R1 R2.
    const std::int16_t stereo[] = {10, -10, 11, -11, 12, -12};
    std::int16_t left[3] = {}, right[3] = {};
    void* const planes[] = {left, right};
    TWaveDataConverter converter;
    EXPECT_EQ(converter.Deinterleave(3, stereo, planes), 6u);
    EXPECT_EQ(std::vector<std::int16_t>(left, left + 3), (std::vector<std::int16_t>{10, 11, 12}));
    EXPECT_EQ(std::vector<std::int16_t>(right, right + 3), (std::vector<std::int16_t>{-10, -11, -12}));

    // Any channel count, with a 3-byte type on one side: sample (frame j, channel c) lands at
    // element j of channel c and comes back to where it was.
    constexpr std::size_t frames = 7;
    for (const int channels : {1, 2, 3, 5, 8}) {
        std::vector<std::int16_t> interleaved(frames * channels);
        for (std::size_t j = 0; j < frames; ++j)
            for (int c = 0; c < channels; ++c)
                interleaved[j * channels + c] = static_cast<std::int16_t>(1000 * c - 100 * static_cast<int>(j) - 1);
        TWaveDataConverter split, join;
        split.SetFormats(wdInt16, wdInt24);
        join.SetFormats(wdInt24, wdInt16);
        split.SetChannels(channels);
        join.SetChannels(channels);
        std::vector<TBytes> buffers(channels, TBytes(frames * 3));
        std::vector<void*> to;
        std::vector<const void*> from;
        for (TBytes& buffer : buffers) {
            to.push_back(buffer.data());
            from.push_back(buffer.data());
        }
        ASSERT_EQ(split.Deinterleave(frames, interleaved.data(), to.data()), frames * 3);
        for (std::size_t j = 0; j < frames; ++j)
            for (int c = 0; c < channels; ++c)
                EXPECT_EQ(ReadSample(wdInt24, &buffers[c][j * 3]), 256.0 * interleaved[j * channels + c])
                    << channels << " channels, frame " << j << ", channel " << c;
        std::vector<std::int16_t> back(interleaved.size(), 0x5555);
        ASSERT_EQ(join.Interleave(frames, from.data(), back.data()), frames * channels * 2);
        EXPECT_EQ(back, interleaved) << channels << " channels";
    }
}

TEST(WaveDataConverter, OpaqueOrUnknownTypesAndMissingChannelsWriteNothing)
{
    struct Pair {
        int source;
        int destination;
    };
    const Pair pairs[] = {{wdAc3Spdif, wdInt16}, {wdInt16, wdAc3Spdif}, {wdRawSport, wdRawSport},
                          {wdInt16, 11},         {200, wdFloat32},      {wdAc3Spdif, wdAc3Spdif}};
    const std::uint8_t in[64] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const Pair& p : pairs) {
        TWaveDataConverter converter;
        converter.SetFormats(static_cast<TWaveDataType>(p.source), static_cast<TWaveDataType>(p.destination));
        TBytes left(64, 0xEE), right(64, 0xEE), joined(64, 0xEE);
        void* const planes[] = {left.data(), right.data()};
        const void* const sources[] = {in, in};
        EXPECT_EQ(converter.Deinterleave(4, in, planes), 0u) << p.source << " -> " << p.destination;
        EXPECT_EQ(converter.Interleave(4, sources, joined.data()), 0u) << p.source << " -> " << p.destination;
        EXPECT_EQ(left, TBytes(64, 0xEE));
        EXPECT_EQ(right, TBytes(64, 0xEE));
        EXPECT_EQ(joined, TBytes(64, 0xEE));
    }

    // No channels: nothing either, until a count is set again.
    TWaveDataConverter converter;
    converter.SetFormats(wdInt16, wdInt32);
    converter.SetChannels(0);
    const std::int16_t sample[] = {0x1234};
    std::int32_t out[1] = {-5};
    void* const planes[] = {out};
    const void* const sources[] = {sample};
    EXPECT_EQ(converter.Deinterleave(1, sample, planes), 0u);
    EXPECT_EQ(converter.Interleave(1, sources, out), 0u);
    EXPECT_EQ(out[0], -5);
    converter.SetChannels(1);
    EXPECT_EQ(converter.Interleave(1, sources, out), 4u);
    EXPECT_EQ(out[0], 0x12340000);
}

} // namespace
} // namespace vantrel
