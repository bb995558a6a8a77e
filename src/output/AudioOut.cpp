#include "output/AudioOut.h"

#include <algorithm>

namespace vantrel {

namespace {

void Put16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value)
{
    Put16(at, static_cast<std::uint16_t>(value));
    Put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

// The tags whose sub-format GUID the Windows headers define.
constexpr std::array<std::uint16_t, 5> kTagsWithGuid{kWaveFormatPcm, kWaveFormatIeeeFloat, 0x0008, 0x0092, 0x0240};

} // namespace

std::array<std::uint8_t, TWaveFormat::kBytes> TWaveFormat::Bytes() const
{
    std::array<std::uint8_t, kBytes> bytes{};
    std::uint8_t* p = bytes.data();
    Put16(p + 0, formatTag);
    Put16(p + 2, channels);
    Put32(p + 4, samplesPerSec);
    Put32(p + 8, avgBytesPerSec);
    Put16(p + 12, blockAlign);
    Put16(p + 14, bitsPerSample);
    Put16(p + 16, extraSize);
    Put16(p + 18, validBitsPerSample);
    Put32(p + 20, channelMask);
    Put32(p + 24, subFormat.data1);
    Put16(p + 28, subFormat.data2);
    Put16(p + 30, subFormat.data3);
    std::copy(subFormat.data4.begin(), subFormat.data4.end(), p + 32);
    return bytes;
}

TGuid SubFormatOfTag(std::uint16_t formatTag)
{
    if (std::find(kTagsWithGuid.begin(), kTagsWithGuid.end(), formatTag) == kTagsWithGuid.end())
        return {};
    return {formatTag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

TWaveFormat MakePcmFormat(int channels, int bits, int sampleRate)
{
    TWaveFormat format;
    format.formatTag = kWaveFormatPcm;
    format.channels = static_cast<std::uint16_t>(channels);
    format.samplesPerSec = static_cast<std::uint32_t>(sampleRate);
    format.bitsPerSample = static_cast<std::uint16_t>(bits);
    format.blockAlign = static_cast<std::uint16_t>(channels * (bits / 8));
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    return format;
}

TWaveFormat MakeFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels, std::uint32_t channelMask)
{
    TWaveFormat format;
    format.channels = static_cast<std::uint16_t>(channels);
    format.samplesPerSec = static_cast<std::uint32_t>(sampleRate);
    format.bitsPerSample = static_cast<std::uint16_t>(GetDataBits(type));
    format.blockAlign = static_cast<std::uint16_t>(channels * GetDataBytes(type));
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    if (!extensible) {
        format.formatTag = GetFormatTag(type);
        return format;
    }
    format.formatTag = kWaveFormatExtensible;
    format.extraSize = 22;
    format.validBitsPerSample = format.bitsPerSample;
    format.channelMask = channelMask;
    format.subFormat = SubFormatOfTag(GetFormatTag(type));
    return format;
}

unsigned BufferFramesFor(int sampleRate, unsigned lengthMs)
{
    if (sampleRate <= 0)
        return 0;
    return static_cast<unsigned>(static_cast<std::uint64_t>(sampleRate) * lengthMs / 1000);
}

} // namespace vantrel
