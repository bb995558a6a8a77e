// The Q sub-channel frame of one sector as a disc carries it: 12 bytes of control/ADR,
// BCD track, index and times, and the inverted CRC-16 that drives check it with. Also the
// 16-byte "formatted Q" that READ CD returns for sub-channel selection 2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::vdrive {

inline constexpr std::size_t kQFrameBytes = 12, kFormattedQBytes = 16;
inline constexpr std::uint8_t kLeadOutTrack = 0xAA; // carried as is, never as BCD

// A binary number 0..99 as a BCD byte (values above 99 are taken modulo 100).
constexpr std::uint8_t BinToBcd(unsigned value)
{
    value %= 100;
    return static_cast<std::uint8_t>(value / 10 * 16 + value % 10);
}

// A position frame (ADR 1), in binary. The relative time is negative in a pre-gap (index 0),
// where it counts down toward index 1; the frame carries its magnitude. Times are frame
// counts; absoluteFrames counts the 150 frames before the first track (00:02:00 = 150).
struct QPosition {
    std::uint8_t control = 0, adr = 1, track = 1, index = 1;
    std::int64_t relativeFrames = 0;
    std::int64_t absoluteFrames = 0;
    friend bool operator==(const QPosition&, const QPosition&) = default;
};

// CRC-16 with x^16 + x^12 + x^5 + 1, initial value 0, no reflection, result inverted:
// the value stored big-endian after a Q frame's 10 bytes (and after a CD-Text pack's 16).
std::uint16_t QCrc(const std::uint8_t* data, std::size_t n);

// Writes the 12-byte frame. Times beyond 99:59:74 are written as 99:59:74, since BCD minutes
// stop at 99; track 0xAA (lead-out) is written as 0xAA, every other field as BCD.
void EncodeQ(const QPosition& position, std::uint8_t out[kQFrameBytes]);
// Reads a frame back. False when the CRC does not match or the frame is not a position frame
// (ADR other than 1); position is changed only on success. Index 0 makes the relative time
// negative again, so EncodeQ/DecodeQ round-trip pre-gap positions.
bool DecodeQ(const std::uint8_t in[kQFrameBytes], QPosition& position);

// The formatted Q of READ CD (selection 2): bytes 0-9 are the frame's control/ADR, track,
// index, relative M S F, zero and absolute M S F; bytes 10-11 the frame's CRC; 12-15 zero.
// The numbers stay BCD, as most drives deliver them. With `binary` (the habit of some
// drives) a position frame's bytes 1-9 are converted to binary and the CRC bytes are 0;
// the lead-out track 0xAA then reads 110, as those drives report it.
void FormattedQ16(const std::uint8_t q[kQFrameBytes], std::uint8_t out[kFormattedQBytes], bool binary = false);

} // namespace vantrel::vdrive
