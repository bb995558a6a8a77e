// What the dsp code shares when it touches samples: unaligned reads and writes of one sample
// in a buffer, how each PCM type holds a sample (TFormat), and the float-to-integer limits of
// the chain (truncation toward zero, clipping, NaN as silence). Internal to the dsp library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "dsp/WaveDataType.h"

namespace vantrel::dsp_detail {

// Buffers have no particular alignment, so samples wider than a byte go through memcpy
// (which compiles to plain unaligned loads and stores).
template <class T> T LoadAs(const std::byte* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T> void StoreAs(std::byte* p, T v)
{
    std::memcpy(p, &v, sizeof v);
}

// Sample i of a buffer of T.
template <class T> T Get(const void* base, std::size_t i)
{
    return LoadAs<T>(static_cast<const std::byte*>(base) + i * sizeof(T));
}
template <class T> void Put(void* base, std::size_t i, T v)
{
    StoreAs(static_cast<std::byte*>(base) + i * sizeof(T), v);
}

// How one data type holds a sample. Value is what the code computes on: integers as a signed
// int32 (wdInt8 as byte - 128, wdInt24 sign-extended), floats as themselves. kMin..kMax is the
// range the type can hold: wdInt24In32 may exceed its 24-bit scale, so only its container
// bounds it. Store expects a value in that range; whoever may leave it limits first.
template <class Stored> struct TPlainFormat {
    using Value = std::conditional_t<std::is_integral_v<Stored>, std::int32_t, Stored>;
    static constexpr Value kMin = std::numeric_limits<Stored>::lowest();
    static constexpr Value kMax = std::numeric_limits<Stored>::max();
    static Value Load(const std::byte* p) { return LoadAs<Stored>(p); }
    static void Store(std::byte* p, Value v) { StoreAs(p, static_cast<Stored>(v)); }
};

template <TWaveDataType T> struct TFormat;

template <> struct TFormat<wdInt8> {
    using Value = std::int32_t;
    static constexpr Value kMin = -128;
    static constexpr Value kMax = 127;
    static Value Load(const std::byte* p) { return std::to_integer<std::int32_t>(*p) - 128; }
    static void Store(std::byte* p, Value u) { *p = static_cast<std::byte>(u + 128); }
};
template <> struct TFormat<wdInt16> : TPlainFormat<std::int16_t> {
};
template <> struct TFormat<wdInt24> {
    using Value = std::int32_t;
    static constexpr Value kMin = -8388608;
    static constexpr Value kMax = 8388607;
    static Value Load(const std::byte* p)
    {
        const std::uint32_t bits = std::to_integer<std::uint32_t>(p[0]) | std::to_integer<std::uint32_t>(p[1]) << 8 |
                                   std::to_integer<std::uint32_t>(p[2]) << 16;
        return static_cast<std::int32_t>(bits ^ 0x800000u) - 0x800000; // sign-extends bit 23
    }
    static void Store(std::byte* p, Value v)
    {
        p[0] = static_cast<std::byte>(v);
        p[1] = static_cast<std::byte>(v >> 8);
        p[2] = static_cast<std::byte>(v >> 16);
    }
};
template <> struct TFormat<wdInt24In32> : TPlainFormat<std::int32_t> {
};
template <> struct TFormat<wdInt32> : TPlainFormat<std::int32_t> {
};
template <> struct TFormat<wdFloat32> : TPlainFormat<float> {
};
template <> struct TFormat<wdFloat64> : TPlainFormat<double> {
};
template <> struct TFormat<wdFloat32S16> : TPlainFormat<float> {
};
template <> struct TFormat<wdFloat64S16> : TPlainFormat<double> {
};

template <TWaveDataType T> using TValue = typename TFormat<T>::Value;
template <TWaveDataType T> constexpr bool kIsFloat = std::is_floating_point_v<TValue<T>>;

// Truncates toward zero and clips to lo..hi (both exact in float); NaN gives 0. Clipping
// first keeps every value that reaches the cast inside the integer range.
inline std::int32_t TruncLimit(float t, float lo, float hi)
{
    t = t == t ? t : 0.0f;
    t = t < hi ? t : hi;
    t = t > lo ? t : lo;
    return static_cast<std::int32_t>(t);
}

// The 32-bit rule: at or beyond +-2^31 the bound on that side, else truncation; NaN gives 0.
inline std::int32_t Saturate32(float t)
{
    constexpr float kTop = 2147483648.0f;
    if (t >= kTop)
        return std::numeric_limits<std::int32_t>::max();
    if (t <= -kTop)
        return std::numeric_limits<std::int32_t>::min();
    return t == t ? static_cast<std::int32_t>(t) : 0;
}

} // namespace vantrel::dsp_detail
