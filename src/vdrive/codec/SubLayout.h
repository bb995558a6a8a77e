// The two layouts of a sector's 96 sub-channel bytes and the moves between them. Raw P-W
// (what READ CD selection 1 returns): byte i holds symbol i, bit 7 = P ... bit 0 = W.
// Channel by channel (some image files): 8 runs of 12 bytes, P first, each MSB first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::vdrive {

inline constexpr std::size_t kSubChannelBytes = 96;

void RawToChannels(const std::uint8_t raw[kSubChannelBytes], std::uint8_t channels[kSubChannelBytes]);
void ChannelsToRaw(const std::uint8_t channels[kSubChannelBytes], std::uint8_t raw[kSubChannelBytes]);

// Writes a 12-byte Q frame into bit 6 of the raw bytes (MSB of q[0] into raw[0]); other bits
// are kept.
void PutQ(std::uint8_t raw[kSubChannelBytes], const std::uint8_t q[12]);
// Sets or clears bit 7 (P) of every raw byte: on a disc P is set through a pause.
void PutP(std::uint8_t raw[kSubChannelBytes], bool on);
// Gathers bit 6 of the raw bytes back into 12 bytes.
void ExtractQ(const std::uint8_t raw[kSubChannelBytes], std::uint8_t q[12]);

// R-W as the sector's 4 packs of 24 six-bit symbols: raw byte k carries symbol k % 24 of
// pack k / 24 in bits 5..0 (as interleaved on the disc; see CdgInterleaver). PutRw keeps
// bits 7..6 (P, Q) and drops bits 7..6 of the symbols; GetRw returns the symbols with 7..6 zero.
void PutRw(std::uint8_t raw[kSubChannelBytes], const std::uint8_t packs[kSubChannelBytes]);
void GetRw(const std::uint8_t raw[kSubChannelBytes], std::uint8_t packs[kSubChannelBytes]);

} // namespace vantrel::vdrive
