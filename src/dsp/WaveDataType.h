// Sample data types of the signal chain and the outputs, and how the user's format
// lists ("INT8" .. "FLOAT64", positions 0..5) map onto them: internally INT24 works
// in a 32-bit container and floats on the 16-bit scale; outputs get the plain types.
#pragma once

#include <array>
#include <cstdint>

namespace vantrel {

enum TWaveDataType : std::uint8_t {
    wdInt8 = 0,
    wdInt16 = 1,
    wdInt24 = 2,
    wdInt24In32 = 3,
    wdInt32 = 4,
    wdFloat32 = 5,
    wdFloat64 = 6,
    wdFloat32S16 = 7,
    wdFloat64S16 = 8,
    wdAc3Spdif = 9,
    wdRawSport = 10,
};

namespace wave_detail {
inline constexpr std::array<TWaveDataType, 6> kInternalOfList{wdInt8,  wdInt16,      wdInt24In32,
                                                              wdInt32, wdFloat32S16, wdFloat64S16};
inline constexpr std::array<TWaveDataType, 6> kOutputOfList{wdInt8, wdInt16, wdInt24, wdInt32, wdFloat32, wdFloat64};
} // namespace wave_detail

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
