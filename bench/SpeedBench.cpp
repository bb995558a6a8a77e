// Continuous speed 1.37x over a 10-minute 44.1 kHz 16-bit stereo WAV file, made once in the
// temp folder: our chain (split to the internal INT24 type, the speed changer through the rate
// converter, joined to 16 bits by the output manager into a WAV file), chunk by chunk as the
// player delivers them, against SoX's `speed 1.37` on the same file, run as a process of its
// own. Also the normalizer's throughput over a minute of that audio, as a multiple of real time.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "BenchAudio.h"
#include "dsp/Compresser.h"
#include "dsp/SpeedChanger.h"
#include "dsp/WaveDataConverter.h"
#include "output/OutputManager.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using namespace vantrel::bench;

constexpr double kSpeed = 1.37;
// Output frames: one per step of 1.37 input frames below kFrames.
const std::size_t kOutFrames = static_cast<std::size_t>(std::ceil(kFrames / kSpeed));

fs::path Folder()
{
    return fs::temp_directory_path() / "vantrel-speed-bench";
}

// One frame of music-like input: tones and a little noise whose level swells and fades every
// few seconds between about -30 and -3 dBFS, so the normalizer has work to do.
void Frame(std::size_t frame, std::uint32_t& noise, std::int16_t* out)
{
    const double w = 2 * std::numbers::pi / kRate;
    const double t = static_cast<double>(frame);
    noise = noise * 1664525u + 1013904223u;
    const double n = static_cast<double>(static_cast<std::int32_t>(noise)) / 2147483648.0;
    const double level = 0.04 + 0.66 * (0.5 + 0.5 * std::sin(w * 0.15 * t)) * (0.5 + 0.5 * std::sin(w * 0.7 * t));
    const double tone = std::sin(w * 55 * t) + 0.5 * std::sin(w * 440 * t) + 0.25 * std::sin(w * 3520 * t);
    out[0] = static_cast<std::int16_t>(32767 * level * (0.55 * tone + 0.1 * n));
    out[1] = static_cast<std::int16_t>(32767 * level * (0.6 * std::sin(w * 110 * t) + 0.2 * n));
}

fs::path Input()
{
    std::uint32_t noise = 1;
    return MakeInput(Folder() / "input.wav", [&](std::size_t frame, std::int16_t* out) { Frame(frame, noise, out); });
}

bool RunOurs(const fs::path& input, const fs::path& output)
{
    using namespace vantrel;
    TSpeedChanger speed;
    speed.SetSpeedEx(kSpeed);
    speed.SetSpeed(TSpeedChanger::kContinuousSpeed);

    TOutputManager manager;
    SetUpFileOutput(manager, output);
    manager.SetSpeedChanger(&speed);
    if (!manager.Open())
        return false;
    speed.Reset();
    return PlayFile(manager, input, [&](std::size_t frames) { speed.Tick(static_cast<int>(frames / 588)); });
}

void SetCounters(benchmark::State& state, std::size_t outFrames)
{
    SetFileCounters(state);
    state.counters["out_frames"] = static_cast<double>(outFrames);
}

void OurSpeed(benchmark::State& state)
{
    const fs::path input = Input(), output = Folder() / "ours.wav";
    for (auto _ : state) {
        if (!RunOurs(input, output)) {
            state.SkipWithError("the chain failed");
            return;
        }
    }
    const std::size_t frames = WavFrames(output);
    if (frames + 1 < kOutFrames || frames > kOutFrames + 1)
        state.SkipWithError("our output has the wrong length");
    SetCounters(state, frames);
}

// Runs a program to its end; true when it exits with 0.
bool RunProcess(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// SoX without dither (-D), as we do not dither either; its speed effect resamples with its
// default rate quality.
void Sox(benchmark::State& state)
{
    const fs::path input = Input(), output = Folder() / "sox.wav";
    const std::vector<std::string> args = {"sox", "-q", "-D", input.string(), output.string(), "speed", "1.37"};
    for (auto _ : state) {
        if (!RunProcess(args)) {
            state.SkipWithError("sox failed");
            return;
        }
    }
    const std::size_t frames = WavFrames(output);
    if (frames + 100 < kOutFrames || frames > kOutFrames + 100)
        state.SkipWithError("the SoX output has an unexpected length");
    SetCounters(state, frames);
}

// The normalizer over one minute of the input in the internal INT24 type, one output block of
// 1000 ms (the player's default buffer) at a time, in place.
void RunNormalizer(benchmark::State& state, bool byPeak)
{
    constexpr int kNormSeconds = 60;
    constexpr std::size_t kNormFrames = std::size_t{kNormSeconds} * kRate;
    constexpr std::size_t kBlockFrames = kRate;
    std::vector<std::int16_t> interleaved(2 * kNormFrames);
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < kNormFrames; ++i)
        Frame(i, noise, &interleaved[2 * i]);
    std::vector<std::int32_t> left(kNormFrames), right(kNormFrames);
    vantrel::TWaveDataConverter split;
    split.SetFormats(vantrel::wdInt16, vantrel::wdInt24In32);
    void* const planes[] = {left.data(), right.data()};
    split.Deinterleave(kNormFrames, interleaved.data(), planes);

    vantrel::TCompresser compresser;
    compresser.Init(vantrel::wdInt24In32, kRate);
    compresser.SetParams(50, 0.5f, 0.33f, 0.33f, 1.8f, 1.0f, byPeak, 0.75f); // the dialog's defaults
    compresser.SetEnabled(true);
    for (auto _ : state) {
        for (std::size_t frame = 0; frame < kNormFrames; frame += kBlockFrames) {
            void* const block[] = {left.data() + frame, right.data() + frame};
            compresser.Process(block, std::min(kBlockFrames, kNormFrames - frame));
        }
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] = benchmark::Counter(kNormSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void NormalizerPeak(benchmark::State& state)
{
    RunNormalizer(state, true);
}

void NormalizerTopShare(benchmark::State& state)
{
    RunNormalizer(state, false);
}

} // namespace

BENCHMARK(OurSpeed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(Sox)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(NormalizerPeak)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NormalizerTopShare)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
