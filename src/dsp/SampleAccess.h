// What the signal stages share when they touch samples: unaligned reads and writes of one
// sample in a channel buffer, and the float-to-integer limits of the chain (truncation
// toward zero, clipping, NaN as silence). Internal to the dsp library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vantrel::dsp_detail {

// Buffers have no particular alignment, so samples wider than a byte go through memcpy
// (which compiles to plain unaligned loads and stores).
template <class T> T Get(const void* base, std::size_t i)
{
    T v;
    std::memcpy(&v, static_cast<const std::byte*>(base) + i * sizeof(T), sizeof v);
    return v;
}
template <class T> void Put(void* base, std::size_t i, T v)
{
    std::memcpy(static_cast<std::byte*>(base) + i * sizeof(T), &v, sizeof v);
}

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

}  // namespace vantrel::dsp_detail
