// Positions on an audio CD: the minute-second-frame address, absolute frame numbers
// (which count the 150 frames before the first track) and the sector numbers that SCSI
// commands take. Plain values, usable at compile time and from any thread.
#pragma once

#include <cstdint>

namespace vantrel {

// A disc address: 4 bytes reserved(0), minute, second, frame, each a plain binary byte.
// As a 32-bit little-endian word: minute*256 + second*65536 + frame*16777216. That word
// shifted right by 8 is the minute-second-frame value of the CD-audio device.
struct TCdAddress {
    std::uint8_t reserved = 0, minute = 0, second = 0, frame = 0;

    static constexpr TCdAddress FromWord(std::uint32_t word)
    {
        return TCdAddress{static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                          static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
    }
    constexpr std::uint32_t Word() const
    {
        return std::uint32_t{reserved} | std::uint32_t{minute} << 8 | std::uint32_t{second} << 16 |
               std::uint32_t{frame} << 24;
    }
    friend constexpr bool operator==(const TCdAddress&, const TCdAddress&) = default;
};
static_assert(sizeof(TCdAddress) == 4);

// A frame (sector) is 1/75 s: 2352 bytes, 588 stereo samples of 16 bits. The first track
// of a normal disc starts 150 frames (2 s) after absolute time 0.
inline constexpr int kFrameBytes = 2352, kFrameSamples = 588, kFramesPerSecond = 75, kLeadInFrames = 150;

inline constexpr std::int64_t kFramesPerMinute = 60 * kFramesPerSecond;
// The highest address a byte per field can hold, 255:59:74.
inline constexpr std::int64_t kMaxAddressFrames = 255 * kFramesPerMinute + 59 * kFramesPerSecond + 74;

// Absolute frame number: minute*4500 + second*75 + frame.
constexpr std::int64_t AddressToFrames(TCdAddress address)
{
    return address.minute * kFramesPerMinute + address.second * std::int64_t{kFramesPerSecond} + address.frame;
}
constexpr std::int64_t AddressToFrames(std::uint32_t word)
{
    return AddressToFrames(TCdAddress::FromWord(word));
}

// The address of an absolute frame number. A negative number gives 00:00:00 and one
// past 255:59:74 gives 255:59:74, so the minute never wraps to a small value.
constexpr TCdAddress FramesToCdAddress(std::int64_t frames)
{
    const std::int64_t n = frames < 0 ? 0 : frames > kMaxAddressFrames ? kMaxAddressFrames : frames;
    return TCdAddress{0, static_cast<std::uint8_t>(n / kFramesPerMinute),
                      static_cast<std::uint8_t>(n / kFramesPerSecond % 60),
                      static_cast<std::uint8_t>(n % kFramesPerSecond)};
}
constexpr std::uint32_t FramesToAddress(std::int64_t frames)
{
    return FramesToCdAddress(frames).Word();
}

constexpr std::uint32_t MakeAddress(std::uint8_t minute, std::uint8_t second, std::uint8_t frame)
{
    return TCdAddress{0, minute, second, frame}.Word();
}

// The logical block address of an absolute frame number: 00:02:00 is sector 0, the
// lead-in from minute 90 on has the negative sectors -45150..-40652, and every other
// number (negative ones included) gives 0.
constexpr std::int32_t FramesToLba(std::int64_t frames)
{
    if (frames >= 0 && frames <= 404999)
        return static_cast<std::int32_t>(frames - kLeadInFrames);
    if (frames >= 405000 && frames <= 409498)
        return static_cast<std::int32_t>(frames - 450150);
    return 0;
}

// A binary-coded decimal byte, as some drives report addresses. Nibbles above 9 are
// not rejected, only weighted (0xFF gives 165), so a bad byte never fails a read.
constexpr std::uint8_t BcdToBin(std::uint8_t b)
{
    return static_cast<std::uint8_t>(b / 16 * 10 + b % 16);
}

} // namespace vantrel
