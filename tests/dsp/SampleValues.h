// Test support shared by the dsp tests: the PCM types, their names, and one sample of any of
// them written and read as a number.
#pragma once

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "dsp/WaveDataType.h"

namespace vantrel::testing {

inline constexpr TWaveDataType kPcmTypes[] = {wdInt8,    wdInt16,   wdInt24,      wdInt24In32, wdInt32,
                                              wdFloat32, wdFloat64, wdFloat32S16, wdFloat64S16};

inline std::string Name(TWaveDataType type)
{
    static const char* const names[] = {"Int8",    "Int16",      "Int24",      "Int24In32", "Int32",   "Float32",
                                        "Float64", "Float32S16", "Float64S16", "Ac3Spdif",  "RawSport"};
    return type < std::size(names) ? names[type] : std::to_string(type);
}

inline bool IsFloat(TWaveDataType type)
{
    return type >= wdFloat32 && type <= wdFloat64S16;
}

// How a wdInt8 sample reads as a number: the stored byte (128 is zero), or the signed value
// byte - 128 that the normalizer, speed changer and rate converter compute on.
enum class TInt8Scale { Byte, Signed };

// One sample at p as a number: wdInt8 on the given scale, wdInt24 as the signed 24-bit value,
// floats rounded to their width.
inline void WriteSample(TWaveDataType type, std::uint8_t* p, double value, TInt8Scale int8 = TInt8Scale::Byte)
{
    const auto write = [p](auto v) { std::memcpy(p, &v, sizeof v); };
    switch (type) {
    case wdInt8:
        *p = int8 == TInt8Scale::Byte ? static_cast<std::uint8_t>(value)
                                      : static_cast<std::uint8_t>(static_cast<int>(value) + 128);
        break;
    case wdInt16:
        write(static_cast<std::int16_t>(value));
        break;
    case wdInt24: {
        const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
        for (int b = 0; b < 3; ++b)
            p[b] = static_cast<std::uint8_t>(v >> (8 * b));
        break;
    }
    case wdInt24In32:
    case wdInt32:
        write(static_cast<std::int32_t>(value));
        break;
    case wdFloat32:
    case wdFloat32S16:
        write(static_cast<float>(value));
        break;
    default:
        write(value);
    }
}

inline double ReadSample(TWaveDataType type, const std::uint8_t* p, TInt8Scale int8 = TInt8Scale::Byte)
{
    // The sample at p as v's type; v only picks the type.
    const auto read = [p](auto v) -> double {
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    switch (type) {
    case wdInt8:
        return int8 == TInt8Scale::Byte ? *p : *p - 128;
    case wdInt16:
        return read(std::int16_t{});
    case wdInt24:
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8;
    case wdInt24In32:
    case wdInt32:
        return read(std::int32_t{});
    case wdFloat32:
    case wdFloat32S16:
        return read(float{});
    default:
        return read(double{});
    }
}

} // namespace vantrel::testing
