// Sample conversion over a whole 74-minute disc: 16-bit stereo split into one float buffer
// per channel on the 16-bit scale (the internal "FLOAT32" type) and joined back into 16-bit
// stereo, one 25-frame read block at a time as the output manager gets it; against a plain
// memcpy of the same bytes. Also the synchronizer's cost per block at 25/5/2.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "digital/Synchronizer.h"
#include "dsp/WaveDataConverter.h"

namespace {

constexpr int kDiscSeconds = 74 * 60;
constexpr std::size_t kDiscFrames = std::size_t{kDiscSeconds} * 44100; // stereo sample pairs
constexpr std::size_t kDiscBytes = kDiscFrames * 2 * sizeof(std::int16_t);
constexpr std::size_t kChunkFrames = 25 * 588;

// The disc's samples and a buffer for the result, allocated and touched once for all runs.
struct TDisc {
    std::vector<std::int16_t> samples;
    std::vector<std::int16_t> output;
};

TDisc& Disc()
{
    static TDisc disc = [] {
        TDisc d;
        d.samples.resize(kDiscFrames * 2);
        std::uint32_t state = 12345;
        for (std::int16_t& s : d.samples) {
            state = state * 1664525u + 1013904223u;
            s = static_cast<std::int16_t>(state >> 16);
        }
        d.output.assign(d.samples.size(), 0);
        return d;
    }();
    return disc;
}

void SetCounters(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kDiscBytes));
    // Seconds of audio per second of run: the multiple of real time.
    state.counters["x_realtime"] = benchmark::Counter(kDiscSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void ConvertChain(benchmark::State& state)
{
    TDisc& disc = Disc();
    vantrel::TWaveDataConverter split, join;
    split.SetFormats(vantrel::wdInt16, vantrel::wdFloat32S16);
    join.SetFormats(vantrel::wdFloat32S16, vantrel::wdInt16);
    std::vector<float> left(kChunkFrames), right(kChunkFrames);
    void* const planes[] = {left.data(), right.data()};
    const void* const sources[] = {left.data(), right.data()};
    for (auto _ : state) {
        for (std::size_t frame = 0; frame < kDiscFrames; frame += kChunkFrames) {
            const std::size_t frames = std::min(kChunkFrames, kDiscFrames - frame);
            split.Deinterleave(frames, disc.samples.data() + 2 * frame, planes);
            join.Interleave(frames, sources, disc.output.data() + 2 * frame);
        }
        benchmark::ClobberMemory();
    }
    if (disc.output != disc.samples)
        state.SkipWithError("the round trip changed samples");
    SetCounters(state);
}

void Memcpy(benchmark::State& state)
{
    TDisc& disc = Disc();
    for (auto _ : state) {
        std::memcpy(disc.output.data(), disc.samples.data(), kDiscBytes);
        benchmark::ClobberMemory();
    }
    SetCounters(state);
}

// Blocks as the reader sees them at 25/5/2: each read 20 frames on from the last and
// starting `offsets[i]` samples off; every sample encodes its position, so each reference
// occurs once. Cycling through them keeps the search at the distance the offsets give.
struct TBlocks {
    std::vector<std::vector<std::uint32_t>> blocks;
};

TBlocks MakeBlocks(const std::vector<int>& offsets, std::int64_t step)
{
    TBlocks result;
    for (std::size_t b = 0; b < offsets.size(); ++b) {
        std::vector<std::uint32_t> block(25 * 588);
        const std::int64_t first = static_cast<std::int64_t>(b) * step + offsets[b] + 100000;
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint32_t>(first + static_cast<std::int64_t>(i));
        result.blocks.push_back(std::move(block));
    }
    return result;
}

// `continuous`: each block continues the one before (the first starts afresh, as after a
// seek); otherwise none holds the previous block's reference.
void RunBlocks(benchmark::State& state, const TBlocks& blocks, bool continuous)
{
    vantrel::TSynchronizer synchronizer;
    synchronizer.Setup(2);
    const int length = 25 * 588, skip = 5 * 588;
    int outLength = 0, outOffset = 0;
    std::size_t b = 0;
    bool asExpected = true;
    for (auto _ : state) {
        const vantrel::TSyncResult result =
            synchronizer.Process(blocks.blocks[b].data(), length, outLength, outOffset, skip);
        const bool matched = result == vantrel::srMatchAfter || result == vantrel::srMatchBefore;
        asExpected &=
            (b == 0 && result == vantrel::srNoReference) || (continuous ? matched : result == vantrel::srNoMatch);
        benchmark::DoNotOptimize(outOffset);
        if (++b == blocks.blocks.size()) {
            b = 0;
            if (continuous)
                synchronizer.Reset();
        }
    }
    if (!asExpected)
        state.SkipWithError("unexpected synchronizer result");
    // A block brings 20 new frames, 20/75 s of audio.
    state.counters["x_realtime"] = benchmark::Counter(20.0 / 75.0, benchmark::Counter::kIsIterationInvariantRate);
}

// Reads up to 3 samples early or late: found within a few steps.
void SyncBlockMatch(benchmark::State& state)
{
    std::vector<int> offsets;
    for (int i = 0; i < 64; ++i)
        offsets.push_back((i * 5) % 7 - 3);
    RunBlocks(state, MakeBlocks(offsets, 20 * 588), true);
}

// Blocks that never hold the reference: all 11 760 steps of the search, the worst case.
void SyncBlockNoMatch(benchmark::State& state)
{
    RunBlocks(state, MakeBlocks(std::vector<int>(64, 0), 1000000), false);
}

} // namespace

BENCHMARK(ConvertChain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SyncBlockMatch)->Unit(benchmark::kMicrosecond);
BENCHMARK(SyncBlockNoMatch)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
