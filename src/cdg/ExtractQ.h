// The Q channel of one sector's raw sub-channel: bit 6 of each of the 96 bytes, gathered
// eight bytes to a Q byte (the first byte's bit into bit 7). The result is the 12-byte Q
// frame as recorded, CRC included; checking and decoding it is the caller's.
#pragma once

#include <cstdint>

namespace vantrel {

void ExtractQ(const std::uint8_t raw[96], std::uint8_t q[12]);

} // namespace vantrel
