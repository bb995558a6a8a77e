// A stand-in drive that reads a generated disc with read jitter, and the forward reading
// loop of digital play, for checking the synchronizer over whole tracks. The loop takes its
// blocks from any TBlockSource, so the same checks can run against the emulated drive.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "digital/Synchronizer.h"

namespace vantrel::testing {

// Reads `frames` frames (2352 bytes each) starting at absolute frame `frame` into `out`;
// false is a read error.
using TBlockSource = std::function<bool(std::int64_t frame, int frames, std::uint8_t* out)>;

// The generated disc holds at each sample position a 16-bit stereo sample that encodes the
// position (before position 0 it is silent), so no stretch of audio occurs twice and every
// delivered sample tells where it came from.
std::uint32_t PositionSample(std::int64_t position);
std::int64_t SamplePosition(std::uint32_t sample);

// Every read starts up to `jitter` samples early or late, evenly drawn from a seeded
// generator; the offsets used are kept in order (positive: the data starts late).
class TJitteredDisc {
public:
    TJitteredDisc(int jitter, std::uint32_t seed) : random_(seed), offset_(-jitter, jitter) {}
    bool operator()(std::int64_t frame, int frames, std::uint8_t* out);
    const std::vector<int>& Offsets() const { return offsets_; }

private:
    std::mt19937 random_;
    std::uniform_int_distribution<int> offset_;
    std::vector<int> offsets_;
};

struct TReadSettings {
    int readAtOnce = 25; // frames per read
    int overlaps = 5;    // frames re-read before the position reached
    int compares = 2;    // frames of reference for the synchronizer
};

struct TPlayedBlock {
    TSyncResult result;
    std::size_t first; // index of its first delivered sample in TPlayback::samples
    int count;         // samples delivered
};

struct TPlayback {
    std::vector<std::uint32_t> samples;
    std::vector<TPlayedBlock> blocks;
    bool readFailed = false;
};

// Plays frames [startFrame, endFrame) forward as digital play reads them: the first block
// from the start frame, each later one `overlaps` frames before the frame reached, every
// block cut where the synchronizer says and the last one at the end.
TPlayback PlayTrack(const TBlockSource& source, std::int64_t startFrame, std::int64_t endFrame,
                    const TReadSettings& settings);

} // namespace vantrel::testing
