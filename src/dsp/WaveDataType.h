// Sample data types of the signal chain and the outputs, what each looks like (bytes,
// bits, WAVE format tag, full scale), and how the user's format lists ("INT8" .. "FLOAT64",
// positions 0..5) map onto them: internally INT24 works in a 32-bit container and floats on
// the 16-bit scale; outputs get the plain types.
#pragma once

#include <array>
#include <cstdint>

namespace vantrel {

enum TWaveDataType : std::uint8_t {
    wdInt8 = 0,       // unsigned byte, 128 is zero
    wdInt16 = 1,      // signed, full scale 32768
    wdInt24 = 2,      // signed, packed little-endian in 3 bytes, full scale 8388608
    wdInt24In32 = 3,  // 32-bit integer on the 24-bit scale; may exceed it until converted
    wdInt32 = 4,      // signed, full scale 2^31
    wdFloat32 = 5,    // full scale 1.0
    wdFloat64 = 6,    // full scale 1.0
    wdFloat32S16 = 7, // float on the 16-bit scale, full scale 32768
    wdFloat64S16 = 8, // double on the 16-bit scale
    wdAc3Spdif = 9,   // opaque bytes, AC3/DTS pass-through only
    wdRawSport = 10,  // opaque bytes; nothing selects it
};

// The types a TWaveDataConverter converts between: codes 0 to 8.
inline constexpr int kPcmWaveDataTypes = 9;

namespace wave_detail {
struct TTypeInfo {
    int bytes;
    int bits;
    std::uint16_t formatTag;
    double fullScale;
};
inline constexpr std::array<TTypeInfo, 11> kTypes{{
    {1, 8, 1, 128.0},
    {2, 16, 1, 32768.0},
    {3, 24, 1, 8388608.0},
    {4, 24, 1, 8388608.0},
    {4, 32, 1, 2147483648.0},
    {4, 32, 3, 1.0},
    {8, 64, 3, 1.0},
    {4, 32, 0, 32768.0},
    {8, 64, 0, 32768.0},
    {2, 16, 0x0092, 0.0}, // WAVE_FORMAT_DOLBY_AC3_SPDIF
    {2, 16, 0x0240, 0.0},
}};
inline constexpr TTypeInfo kUnknownType{0, 0, 0, 0.0};

constexpr const TTypeInfo& Info(TWaveDataType type)
{
    return type < kTypes.size() ? kTypes[type] : kUnknownType;
}

inline constexpr std::array<TWaveDataType, 6> kInternalOfList{wdInt8,  wdInt16,      wdInt24In32,
                                                              wdInt32, wdFloat32S16, wdFloat64S16};
inline constexpr std::array<TWaveDataType, 6> kOutputOfList{wdInt8, wdInt16, wdInt24, wdInt32, wdFloat32, wdFloat64};
} // namespace wave_detail

// Container bytes of one sample; 0 for an unknown code.
constexpr int GetDataBytes(TWaveDataType type)
{
    return wave_detail::Info(type).bytes;
}
// Significant bits, also the valid-bits field of an extensible WAVE header (so
// wdInt24In32 is 24 bits in a 4-byte container); 0 for an unknown code.
constexpr int GetDataBits(TWaveDataType type)
{
    return wave_detail::Info(type).bits;
}
// WAVE format tag: 1 integer PCM, 3 IEEE float, 0 for the 16-bit-scale floats (no file
// or device takes them) and unknown codes.
constexpr std::uint16_t GetFormatTag(TWaveDataType type)
{
    return wave_detail::Info(type).formatTag;
}
// The magnitude of the most negative full-scale sample (the int8 value counts from 128);
// 0 for the opaque types and unknown codes.
constexpr double GetFullScale(TWaveDataType type)
{
    return wave_detail::Info(type).fullScale;
}

// Speaker positions of an extensible WAVE header for a channel count; 0 when it has none.
constexpr std::uint32_t GetChannelMask(int channels)
{
    switch (channels) {
    case 1:
        return 0x4;
    case 2:
        return 0x3;
    case 4:
        return 0x33;
    case 6:
        return 0x3F;
    case 8:
        return 0xFF;
    default:
        return 0;
    }
}

// The internal type of a list position; any other position is INT16.
constexpr TWaveDataType InternalTypeFromList(int position)
{
    return position >= 0 && position < 6 ? wave_detail::kInternalOfList[position] : wdInt16;
}
// The output type of a list position; any other position is INT16.
constexpr TWaveDataType OutputTypeFromList(int position)
{
    return position >= 0 && position < 6 ? wave_detail::kOutputOfList[position] : wdInt16;
}

} // namespace vantrel
