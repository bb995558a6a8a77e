#include "JitteredReader.h"

#include <algorithm>
#include <cstring>

#include "drive/CdAddress.h"

namespace vantrel::testing {

namespace {
constexpr std::size_t kSampleBytes = 4;
}

std::uint32_t PositionSample(std::int64_t position)
{
    return position < 0 ? 0 : static_cast<std::uint32_t>(position + 1);
}

std::int64_t SamplePosition(std::uint32_t sample)
{
    return static_cast<std::int64_t>(sample) - 1;
}

bool TJitteredDisc::operator()(std::int64_t frame, int frames, std::uint8_t* out)
{
    const int offset = offset_(random_);
    offsets_.push_back(offset);
    const std::int64_t first = frame * kFrameSamples + offset;
    for (std::int64_t i = 0; i < std::int64_t{frames} * kFrameSamples; ++i) {
        const std::uint32_t sample = PositionSample(first + i);
        std::memcpy(out + i * kSampleBytes, &sample, kSampleBytes);
    }
    return true;
}

TPlayback PlayTrack(const TBlockSource& source, std::int64_t startFrame, std::int64_t endFrame,
                    const TReadSettings& settings)
{
    TPlayback playback;
    TSynchronizer synchronizer;
    if (!synchronizer.Setup(settings.compares))
        return playback;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(settings.readAtOnce) * kFrameBytes);
    const std::int64_t end = endFrame * kFrameSamples;
    std::int64_t position = startFrame * kFrameSamples;
    bool firstBlock = true;
    while (position < end) {
        const std::int64_t frame = position / kFrameSamples;
        const int partial = static_cast<int>(position % kFrameSamples);
        // The disc starts at frame 0 here: an overlap cannot reach before it.
        const int overlap = firstBlock ? 0 : static_cast<int>(std::min<std::int64_t>(settings.overlaps, frame));
        const std::int64_t readFrom = frame - overlap;
        const int frames = static_cast<int>(std::min<std::int64_t>(endFrame - readFrom, settings.readAtOnce));
        if (!source(readFrom, frames, buffer.data())) {
            playback.readFailed = true;
            break;
        }
        int count = 0, offset = 0;
        const TSyncResult result = synchronizer.Process(buffer.data(), frames * kFrameSamples, count, offset,
                                                        overlap * kFrameSamples + partial);
        count = static_cast<int>(std::min<std::int64_t>(count, end - position));
        const std::size_t first = playback.samples.size();
        playback.blocks.push_back({result, first, count});
        if (count == 0)
            break;
        playback.samples.resize(first + count);
        std::memcpy(playback.samples.data() + first, buffer.data() + static_cast<std::size_t>(offset) * kSampleBytes,
                    static_cast<std::size_t>(count) * kSampleBytes);
        position += count;
        firstBlock = false;
    }
    return playback;
}

} // namespace vantrel::testing
