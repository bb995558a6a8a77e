#include "dsp/WaveDataConverter.h"
#include "dsp/SampleAccess.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace vantrel {
namespace {

// Narrowing a double to a float relies on IEEE overflow to infinity.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);

// Only int32 to the unit-scale floats differs between the two directions.
enum class TDirection { Split, Join };

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr double kTwoPow31 = 2147483648.0;

using dsp_detail::kIsFloat;
using dsp_detail::TFormat;
using dsp_detail::TValue;

template <TWaveDataType T> constexpr bool kIs16Scale = T == wdFloat32S16 || T == wdFloat64S16;
// The scale of an integer type in bits; wdInt24In32 counts as 24.
template <TWaveDataType T> constexpr int kScaleBits = T == wdInt8 ? 8 : T == wdInt16 ? 16 : T == wdInt32 ? 32 : 24;

// Truncates toward zero and limits to Lo..Hi; NaN gives 0, which is silence in every integer
// type here. Limiting first means no value outside the integer range ever reaches the cast,
// where it would be undefined behaviour. Computed in F, which must hold both bounds exactly.
template <std::int32_t Lo, std::int32_t Hi, class F> std::int32_t TruncLimit(F t)
{
    static_assert(static_cast<std::int64_t>(static_cast<F>(Hi)) == Hi &&
                  static_cast<std::int64_t>(static_cast<F>(Lo)) == Lo);
    t = t == t ? t : F(0);
    t = t < static_cast<F>(Hi) ? t : static_cast<F>(Hi); // minps/maxps in this form
    t = t > static_cast<F>(Lo) ? t : static_cast<F>(Lo);
    return static_cast<std::int32_t>(t);
}

constexpr double Pow2(int e)
{
    double p = 1.0;
    for (; e > 0; --e)
        p *= 2.0;
    for (; e < 0; ++e)
        p /= 2.0;
    return p;
}

template <std::int32_t Lo, std::int32_t Hi> std::int32_t Limit(std::int32_t v)
{
    return std::clamp(v, Lo, Hi);
}

// One sample from type S to type D. The branches are resolved at compile time, so every
// (source, destination, direction) triple compiles to its own straight-line rule.
// Float arithmetic runs in double: a float source times any constant used here is exact
// there, so truncation sees the true product and a float result is rounded only once.
template <TWaveDataType S, TWaveDataType D, TDirection Dir> TValue<D> Convert(TValue<S> v)
{
    if constexpr (!kIsFloat<S> && !kIsFloat<D>) {
        if constexpr (S == wdInt24In32 && D == wdInt32) {
            // The 24-bit full scale maps onto the 32-bit one (8388607 gives 2^31 - 1 rather
            // than 2^31 - 256); beyond it the result clips.
            return v > 8388606 ? kInt32Max : v < -8388607 ? kInt32Min : v * 256;
        } else if constexpr (S == wdInt24In32) {
            // May exceed the 24-bit scale, so narrowing also limits.
            constexpr int shift = 24 - kScaleBits<D>;
            constexpr std::int32_t hi = (std::int32_t{1} << (kScaleBits<D> - 1)) - 1;
            return Limit<-hi - 1, hi>(v >> shift);
        } else if constexpr (kScaleBits<D> >= kScaleBits<S>) {
            return v * (std::int32_t{1} << (kScaleBits<D> - kScaleBits<S>)); // at most -128 * 2^24
        } else {
            return v >> (kScaleBits<S> - kScaleBits<D>); // arithmetic: toward minus infinity
        }
    } else if constexpr (S == wdInt16 && kIs16Scale<D>) {
        return static_cast<TValue<D>>(v); // exact in either width
    } else if constexpr (!kIsFloat<S>) {
        double x;
        if constexpr (kIs16Scale<D>) {
            constexpr double scale = Pow2(16 - kScaleBits<S>); // u*256, v/256, v*2^-16
            x = v * scale;
        } else if constexpr (S == wdInt24) {
            x = static_cast<double>(v) * 256.0 / 2147483649.0;
        } else if constexpr (S == wdInt24In32) {
            constexpr double scale = Pow2(-23);
            x = Limit<-8388608, 8388607>(v) * scale;
        } else if constexpr (S == wdInt32 && Dir == TDirection::Split) {
            x = static_cast<double>(v) / 2147483649.0;
        } else {
            constexpr double scale = Pow2(1 - kScaleBits<S>); // u/128, v*2^-15, v*2^-31
            x = v * scale;
        }
        return static_cast<TValue<D>>(x);
    } else if constexpr (!kIsFloat<D>) {
        const double x = v;
        if constexpr (D == wdInt16 && kIs16Scale<S>) {
            return TruncLimit<-32768, 32767>(v); // no arithmetic: the float's own width is exact
        } else if constexpr (D == wdInt8) {
            // trunc((x + 1) * 128) limited to 0..255, or trunc(x / 256 + 128) on the 16-bit
            // scale, less 128: for a sum that is not negative trunc is floor, and a negative
            // one clips to 0 either way. floor keeps it exact where x + 1 would round.
            return TruncLimit<-128, 127>(kIs16Scale<S> ? std::floor(std::floor(x) / 256.0) : std::floor(x * 128.0));
        } else if constexpr (D == wdInt16) {
            return TruncLimit<-32768, 32767>(x * 32767.0);
        } else if constexpr (D == wdInt24In32) {
            // Unlimited on the 24-bit scale; the 32-bit container still bounds it.
            return TruncLimit<kInt32Min, kInt32Max>(x * (kIs16Scale<S> ? 256.0 : 8388607.0));
        } else {
            // Saturates at 2^31; wdInt24 keeps the top 24 bits of that.
            const std::int32_t full = TruncLimit<kInt32Min, kInt32Max>(x * (kIs16Scale<S> ? 65536.0 : kTwoPow31));
            return D == wdInt24 ? full >> 8 : full;
        }
    } else {
        double x = v;
        if constexpr (kIs16Scale<S> && !kIs16Scale<D>)
            x *= 1.0 / 32768.0;
        else if constexpr (!kIs16Scale<S> && kIs16Scale<D>)
            x *= 32767.0;
        return static_cast<TValue<D>>(x);
    }
}

template <TWaveDataType S, TWaveDataType D, TDirection Dir> void ConvertSample(const std::byte* in, std::byte* out)
{
    if constexpr (S == D)
        std::memcpy(out, in, GetDataBytes(S)); // bit for bit, NaN payloads included
    else
        TFormat<D>::Store(out, Convert<S, D, Dir>(TFormat<S>::Load(in)));
}

// Stereo, the case that always runs, gets loops of its own: with the stride known the
// compiler can vectorize them.
template <TWaveDataType S, TWaveDataType D>
void Split(std::size_t frames, int channels, const void* source, void* const* destinations)
{
    constexpr std::size_t sb = GetDataBytes(S), db = GetDataBytes(D);
    const auto* in = static_cast<const std::byte*>(source);
    if (channels == 2) {
        auto* __restrict left = static_cast<std::byte*>(destinations[0]);
        auto* __restrict right = static_cast<std::byte*>(destinations[1]);
        for (std::size_t j = 0; j < frames; ++j) {
            ConvertSample<S, D, TDirection::Split>(in + 2 * j * sb, left + j * db);
            ConvertSample<S, D, TDirection::Split>(in + (2 * j + 1) * sb, right + j * db);
        }
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(channels) * sb;
    for (int c = 0; c < channels; ++c) {
        auto* out = static_cast<std::byte*>(destinations[c]);
        const std::byte* from = in + static_cast<std::size_t>(c) * sb;
        for (std::size_t j = 0; j < frames; ++j)
            ConvertSample<S, D, TDirection::Split>(from + j * stride, out + j * db);
    }
}

template <TWaveDataType S, TWaveDataType D>
void Join(std::size_t frames, int channels, const void* const* sources, void* destination)
{
    constexpr std::size_t sb = GetDataBytes(S), db = GetDataBytes(D);
    auto* out = static_cast<std::byte*>(destination);
    if (channels == 2) {
        const auto* __restrict left = static_cast<const std::byte*>(sources[0]);
        const auto* __restrict right = static_cast<const std::byte*>(sources[1]);
        if constexpr (D == wdInt16 && S != D && std::endian::native == std::endian::little) {
            // Storing each 16-bit pair as one 32-bit word spares the compiler a long shuffle
            // sequence per vector; this is the join to the disc's own format.
            for (std::size_t j = 0; j < frames; ++j) {
                const auto l =
                    static_cast<std::uint16_t>(Convert<S, D, TDirection::Join>(TFormat<S>::Load(left + j * sb)));
                const auto r =
                    static_cast<std::uint16_t>(Convert<S, D, TDirection::Join>(TFormat<S>::Load(right + j * sb)));
                const std::uint32_t pair = l | static_cast<std::uint32_t>(r) << 16;
                std::memcpy(out + 4 * j, &pair, sizeof pair);
            }
            return;
        }
        for (std::size_t j = 0; j < frames; ++j) {
            ConvertSample<S, D, TDirection::Join>(left + j * sb, out + 2 * j * db);
            ConvertSample<S, D, TDirection::Join>(right + j * sb, out + (2 * j + 1) * db);
        }
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(channels) * db;
    for (int c = 0; c < channels; ++c) {
        const auto* in = static_cast<const std::byte*>(sources[c]);
        std::byte* to = out + static_cast<std::size_t>(c) * db;
        for (std::size_t j = 0; j < frames; ++j)
            ConvertSample<S, D, TDirection::Join>(in + j * sb, to + j * stride);
    }
}

struct TRoutines {
    TWaveDataConverter::TDeinterleaveRoutine split;
    TWaveDataConverter::TInterleaveRoutine join;
};

template <std::size_t... I> constexpr std::array<TRoutines, sizeof...(I)> MakeRoutines(std::index_sequence<I...>)
{
    constexpr auto n = static_cast<std::size_t>(kPcmWaveDataTypes);
    return {{{&Split<static_cast<TWaveDataType>(I / n), static_cast<TWaveDataType>(I % n)>,
              &Join<static_cast<TWaveDataType>(I / n), static_cast<TWaveDataType>(I % n)>}...}};
}

// Indexed by source * 9 + destination.
constexpr auto kRoutines = MakeRoutines(std::make_index_sequence<kPcmWaveDataTypes * kPcmWaveDataTypes>{});

} // namespace

TWaveDataConverter::TWaveDataConverter()
{
    SetFormats(wdInt16, wdInt16);
}

void TWaveDataConverter::SetFormats(TWaveDataType source, TWaveDataType destination)
{
    srcBytes_ = GetDataBytes(source);
    dstBytes_ = GetDataBytes(destination);
    srcType_ = source;
    dstType_ = destination;
    deinterleave_ = nullptr;
    interleave_ = nullptr;
    if (source < kPcmWaveDataTypes && destination < kPcmWaveDataTypes) {
        const TRoutines& routines = kRoutines[source * kPcmWaveDataTypes + destination];
        deinterleave_ = routines.split;
        interleave_ = routines.join;
    }
}

void TWaveDataConverter::SetChannels(int count)
{
    channels_ = count;
}

std::size_t TWaveDataConverter::Deinterleave(std::size_t frames, const void* source, void* const* destinations) const
{
    if (deinterleave_ == nullptr || channels_ < 1)
        return 0;
    deinterleave_(frames, channels_, source, destinations);
    return frames * static_cast<std::size_t>(dstBytes_);
}

std::size_t TWaveDataConverter::Interleave(std::size_t frames, const void* const* sources, void* destination) const
{
    if (interleave_ == nullptr || channels_ < 1)
        return 0;
    interleave_(frames, channels_, sources, destination);
    return frames * static_cast<std::size_t>(channels_) * static_cast<std::size_t>(dstBytes_);
}

} // namespace vantrel
