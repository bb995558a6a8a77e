#include "vdrive/codec/SubLayout.h"

#include <cstring>

namespace vantrel::vdrive {
namespace {

constexpr std::size_t kChannelBytes = 12;

} // namespace

void RawToChannels(const std::uint8_t raw[kSubChannelBytes], std::uint8_t channels[kSubChannelBytes])
{
    std::memset(channels, 0, kSubChannelBytes);
    for (std::size_t i = 0; i < kSubChannelBytes; ++i)
        for (int channel = 0; channel < 8; ++channel)
            if (raw[i] >> (7 - channel) & 1)
                channels[channel * kChannelBytes + i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
}

void ChannelsToRaw(const std::uint8_t channels[kSubChannelBytes], std::uint8_t raw[kSubChannelBytes])
{
    std::memset(raw, 0, kSubChannelBytes);
    for (std::size_t i = 0; i < kSubChannelBytes; ++i)
        for (int channel = 0; channel < 8; ++channel)
            if (channels[channel * kChannelBytes + i / 8] & (0x80 >> (i % 8)))
                raw[i] |= static_cast<std::uint8_t>(0x80 >> channel);
}

void PutQ(std::uint8_t raw[kSubChannelBytes], const std::uint8_t q[12])
{
    for (std::size_t i = 0; i < kSubChannelBytes; ++i) {
        const bool bit = q[i / 8] & (0x80 >> (i % 8));
        raw[i] = static_cast<std::uint8_t>((raw[i] & ~0x40) | (bit ? 0x40 : 0));
    }
}

void PutP(std::uint8_t raw[kSubChannelBytes], bool on)
{
    for (std::size_t i = 0; i < kSubChannelBytes; ++i)
        raw[i] = static_cast<std::uint8_t>(on ? raw[i] | 0x80 : raw[i] & 0x7F);
}

void ExtractQ(const std::uint8_t raw[kSubChannelBytes], std::uint8_t q[12])
{
    for (std::size_t group = 0; group < 12; ++group) {
        std::uint8_t byte = 0;
        for (std::size_t bit = 0; bit < 8; ++bit)
            byte = static_cast<std::uint8_t>(byte << 1 | (raw[group * 8 + bit] >> 6 & 1));
        q[group] = byte;
    }
}

void PutRw(std::uint8_t raw[kSubChannelBytes], const std::uint8_t packs[kSubChannelBytes])
{
    for (std::size_t i = 0; i < kSubChannelBytes; ++i)
        raw[i] = static_cast<std::uint8_t>((raw[i] & 0xC0) | (packs[i] & 0x3F));
}

void GetRw(const std::uint8_t raw[kSubChannelBytes], std::uint8_t packs[kSubChannelBytes])
{
    for (std::size_t i = 0; i < kSubChannelBytes; ++i)
        packs[i] = static_cast<std::uint8_t>(raw[i] & 0x3F);
}

} // namespace vantrel::vdrive
