// Reading back what digital play wrote: a 16-bit stereo PCM WAV file as its header sizes
// and its samples, and the disc positions that counter samples name.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vdrive/DiscMaker.h"

namespace vantrel::testing {

struct TWavFile {
    bool pcmHeader = false; // "RIFF", "WAVEfmt ", PCM, 2 channels, 16 bits, 44100 Hz, "data" at 36
    std::uint64_t fileSize = 0;
    std::uint32_t riffSize = 0, dataSize = 0;
    std::vector<std::uint32_t> samples; // left in the low half
};

inline std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

inline TWavFile ReadWav(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    TWavFile wav;
    wav.fileSize = bytes.size();
    if (bytes.size() < 44)
        return wav;
    const std::uint8_t* b = bytes.data();
    wav.pcmHeader = std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVEfmt ", 8) == 0 && Le32(b + 16) == 16 &&
                    (Le32(b + 20) & 0xFFFF) == 1 && (Le32(b + 20) >> 16) == 2 && Le32(b + 24) == 44100 &&
                    (Le32(b + 32) >> 16) == 16 && std::memcmp(b + 36, "data", 4) == 0;
    wav.riffSize = Le32(b + 4);
    wav.dataSize = Le32(b + 40);
    wav.samples.resize((bytes.size() - 44) / 4);
    if (!wav.samples.empty())
        std::memcpy(wav.samples.data(), b + 44, wav.samples.size() * 4);
    return wav;
}

// The disc position (samples from 00:00:00) a counter sample names; -1 for any other sample.
inline std::int64_t Position(std::uint32_t sample)
{
    return vdrive::CounterPosition(static_cast<std::int16_t>(sample & 0xFFFF), static_cast<std::int16_t>(sample >> 16));
}

// The first index from `from` on at which samples stop naming first, first + step, ...
// (samples.size() when they never do).
inline std::size_t RunEnd(const std::vector<std::uint32_t>& samples, std::size_t from, std::int64_t first,
                          std::int64_t step)
{
    std::size_t k = from;
    while (k < samples.size() && Position(samples[k]) == first + static_cast<std::int64_t>(k - from) * step)
        ++k;
    return k;
}

} // namespace vantrel::testing
