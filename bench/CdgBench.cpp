// The CD+G packs of a whole 74-minute disc (74 x 60 x 75 sectors, 4 packs each) through the
// digital player's sub-channel pipeline: raw sub-channel bytes with P and Q in bits 7..6,
// masked, de-interleaved and corrected one 25-sector read run at a time, against the disc's
// own playing time. The disc is made once in memory: random packs with valid parity, one
// wrong symbol in every 997th, spread as on a disc. Also the same with overlapping runs
// lined up by the re-synchronisation, as the player reads by default.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "cdg/CdgPipeline.h"
#include "vdrive/codec/CdgPack.h"

namespace {

using vantrel::kCdgPackBytes;
using vantrel::kCdgPacksPerSector;

constexpr int kDiscSeconds = 74 * 60;
constexpr std::uint32_t kSectors = kDiscSeconds * 75;
constexpr std::size_t kPacks = std::size_t{kSectors} * kCdgPacksPerSector;
constexpr std::size_t kSectorBytes = kCdgPacksPerSector * kCdgPackBytes; // 96
constexpr std::uint32_t kRunSectors = 25;
constexpr std::uint32_t kDelayPacks = 7; // a pack leaves the delay line 7 packs after it came

struct TDisc {
    std::vector<std::uint8_t> packs;  // as made, before any error
    std::vector<std::uint8_t> onDisc; // the raw sub-channel bytes a drive returns
};

const TDisc& Disc()
{
    static const TDisc disc = [] {
        TDisc d;
        d.packs.resize(kPacks * kCdgPackBytes);
        d.onDisc.resize(d.packs.size());
        std::mt19937 random(2024);
        vantrel::vdrive::CdgInterleaver interleaver;
        for (std::size_t p = 0; p < kPacks; ++p) {
            std::uint8_t* pack = d.packs.data() + p * kCdgPackBytes;
            for (std::size_t k = 0; k < kCdgPackBytes; ++k)
                pack[k] = static_cast<std::uint8_t>(random() & 0x3F);
            vantrel::vdrive::EncodeCdgParity(pack);
            std::uint8_t* raw = d.onDisc.data() + p * kCdgPackBytes;
            std::copy_n(pack, kCdgPackBytes, raw);
            if (p % 997 == 0)
                raw[p % kCdgPackBytes] ^= static_cast<std::uint8_t>(1 + p % 63);
            interleaver.Interleave(raw);
            for (std::size_t k = 0; k < kCdgPackBytes; ++k)
                raw[k] |= static_cast<std::uint8_t>(random() & 0xC0); // channels P and Q
        }
        return d;
    }();
    return disc;
}

// Reads the disc in runs of 25 sectors, each starting `overlap` sectors before the end of the
// last, and hands every new pack to `take`.
template <typename Take>
void PlayDisc(vantrel::TCdgPipeline& pipeline, std::uint32_t overlap, std::vector<std::uint8_t>& run, Take take)
{
    const TDisc& disc = Disc();
    pipeline.Setup({true, true, overlap, 4});
    for (std::uint32_t lba = 0;; lba += kRunSectors - overlap) {
        const std::uint32_t sectors = std::min(kRunSectors, kSectors - lba);
        std::copy_n(disc.onDisc.data() + std::size_t{lba} * kSectorBytes, std::size_t{sectors} * kSectorBytes,
                    run.data());
        const vantrel::TCdgRunPacks packs = pipeline.Process(run.data(), sectors, lba == 0 ? 0 : overlap);
        take(packs);
        if (lba + sectors == kSectors)
            break;
    }
}

// Whether a play hands over every pack once, repaired, after the delay line's first 7.
bool HandsOverTheDisc(std::uint32_t overlap)
{
    vantrel::TCdgPipeline pipeline;
    std::vector<std::uint8_t> run(kRunSectors * kSectorBytes), out;
    out.reserve(kPacks * kCdgPackBytes);
    PlayDisc(pipeline, overlap, run, [&](const vantrel::TCdgRunPacks& packs) {
        out.insert(out.end(), packs.packs, packs.packs + std::size_t{packs.count} * kCdgPackBytes);
    });
    const std::vector<std::uint8_t>& made = Disc().packs;
    return out.size() == made.size() &&
           std::equal(out.begin() + kDelayPacks * kCdgPackBytes, out.end(), made.begin());
}

// Checked once per overlap, however often the benchmark library calls a benchmark.
bool Checked(std::uint32_t overlap)
{
    static std::map<std::uint32_t, bool> results;
    const auto [at, added] = results.try_emplace(overlap);
    if (added)
        at->second = HandsOverTheDisc(overlap);
    return at->second;
}

void Run(benchmark::State& state, std::uint32_t overlap)
{
    if (!Checked(overlap)) {
        state.SkipWithError("the packs handed over differ from the disc's");
        return;
    }
    vantrel::TCdgPipeline pipeline;
    std::vector<std::uint8_t> run(kRunSectors * kSectorBytes);
    for (auto _ : state)
        PlayDisc(pipeline, overlap, run, [](const vantrel::TCdgRunPacks& packs) {
            benchmark::DoNotOptimize(packs.packs);
            benchmark::ClobberMemory();
        });
    // Seconds of disc per second of run: the multiple of real time.
    state.counters["x_realtime"] = benchmark::Counter(kDiscSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void CdgPipeline(benchmark::State& state)
{
    Run(state, 0);
}

// 25-sector runs that repeat 2 sectors of the previous one, lined up over 2 sectors.
void CdgPipelineOverlap(benchmark::State& state)
{
    Run(state, 2);
}

// The anchor: 74 minutes, the time the disc takes to play.
void RealTime74(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(kDiscSeconds);
}

} // namespace

BENCHMARK(CdgPipeline)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CdgPipelineOverlap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(RealTime74)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
