// The digital signal chain over a 10-minute 44.1 kHz 16-bit stereo WAV file: de-emphasis,
// volume and the 15-band equalizer in the internal INT24 type, through the output manager
// into a WAV file, chunk by chunk as the player delivers them; against SoX running gain and
// 15 equalizer effects on the same file into a WAV file, as a process of its own.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/DeEmphsizer.h"
#include "dsp/Equalizer.h"
#include "dsp/VolumeChanger.h"
#include "output/OutputManager.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr std::size_t kFrames = std::size_t{600} * kRate;
constexpr std::size_t kChunkFrames = 25 * 588; // one read of 25 sectors
constexpr std::size_t kHeaderBytes = 44;
constexpr std::size_t kFileBytes = kHeaderBytes + kFrames * 4;
constexpr double kVolumeDb = -3.0;
// A smile curve within the slider's +-15 dB, in dB per band.
constexpr std::array<double, vantrel::TEqualizer::kBands> kBandDb{6,  4.5,  3, 1.5, 0, -1.5, -3, -4.5,
                                                                  -3, -1.5, 0, 1.5, 3, 4.5,  6};

fs::path Folder()
{
    return fs::temp_directory_path() / "vantrel-eq-bench";
}

void PutLe(std::ofstream& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.put(static_cast<char>(value >> (8 * i)));
}

// Music-like input, made once and kept: a few tones and a little noise around -10 dBFS.
fs::path Input()
{
    const fs::path path = Folder() / "input.wav";
    std::error_code error;
    if (fs::file_size(path, error) == kFileBytes)
        return path;
    fs::create_directories(Folder());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("RIFF", 4);
    PutLe(out, static_cast<std::uint32_t>(kFileBytes - 8), 4);
    out.write("WAVEfmt ", 8);
    PutLe(out, 16, 4);
    PutLe(out, 1, 2); // PCM
    PutLe(out, 2, 2);
    PutLe(out, kRate, 4);
    PutLe(out, kRate * 4, 4);
    PutLe(out, 4, 2);
    PutLe(out, 16, 2);
    out.write("data", 4);
    PutLe(out, static_cast<std::uint32_t>(kFrames * 4), 4);
    std::vector<std::int16_t> chunk(2 * kChunkFrames);
    std::uint32_t noise = 1;
    const double w = 2 * std::numbers::pi / kRate;
    for (std::size_t frame = 0; frame < kFrames; frame += kChunkFrames) {
        const std::size_t frames = std::min(kChunkFrames, kFrames - frame);
        for (std::size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(frame + i);
            noise = noise * 1664525u + 1013904223u;
            const double n = static_cast<double>(static_cast<std::int32_t>(noise)) / 2147483648.0;
            const double tone = std::sin(w * 55 * t) + 0.5 * std::sin(w * 440 * t) + 0.25 * std::sin(w * 3520 * t);
            chunk[2 * i] = static_cast<std::int16_t>(4000 * tone + 1500 * n);
            chunk[2 * i + 1] = static_cast<std::int16_t>(4000 * std::sin(w * 110 * t) + 3000 * n);
        }
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(frames * 4));
    }
    out.close();
    return path;
}

void SetCounters(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kFrames * 4));
    state.counters["x_realtime"] = benchmark::Counter(600, benchmark::Counter::kIsIterationInvariantRate);
}

bool RunOurs(const fs::path& input, const fs::path& output)
{
    using namespace vantrel;
    TDeEmphsizer deEmphsizer;
    deEmphsizer.SetEnabled(true);
    deEmphsizer.SetGain(100);
    TVolumeChanger volume;
    const double gain = std::pow(10.0, kVolumeDb / 20);
    volume.SetVolume(gain, gain);
    TEqualizer equalizer;
    equalizer.SetEnabled(true);
    for (int band = 0; band < TEqualizer::kBands; ++band)
        equalizer.SetBandParams(band, static_cast<float>(std::pow(10.0, kBandDb[band] / 20)), 3.0f,
                                TEqualizer::kDefaultFreqs[band]);

    TOutputManager manager;
    manager.SetOutputMode(omDisk);
    manager.SetInputFormat(wdInt16, kRate);
    manager.SetInternalFormat(wdInt24In32);
    manager.SetOutputFormat(wdInt16, kRate, false);
    manager.SetBuffers(500, 2);
    manager.SetFileName(output.string());
    manager.SetEqualizer(&equalizer);
    manager.SetVolumeChanger(&volume);
    manager.SetDeEmphsizer(&deEmphsizer);
    if (!manager.Open())
        return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(input.c_str(), "rb"), std::fclose);
    bool ok = in && std::fseek(in.get(), kHeaderBytes, SEEK_SET) == 0;
    std::vector<std::int16_t> chunk(2 * kChunkFrames);
    while (ok) {
        const std::size_t frames = std::fread(chunk.data(), 4, kChunkFrames, in.get());
        if (frames == 0)
            break;
        ok = manager.Write(chunk.data(), frames);
    }
    ok = manager.Flush() && ok;
    return manager.Close() && ok;
}

void OurChain(benchmark::State& state)
{
    const fs::path input = Input(), output = Folder() / "ours.wav";
    for (auto _ : state) {
        if (!RunOurs(input, output)) {
            state.SkipWithError("the chain failed");
            return;
        }
    }
    std::error_code error;
    if (fs::file_size(output, error) != kFileBytes)
        state.SkipWithError("the output file has the wrong size");
    fs::remove(output, error);
    SetCounters(state);
}

void Sox(benchmark::State& state)
{
    const fs::path input = Input(), output = Folder() / "sox.wav";
    std::string command =
        "sox -q -D '" + input.string() + "' '" + output.string() + "' gain " + std::to_string(kVolumeDb);
    for (int band = 0; band < vantrel::TEqualizer::kBands; ++band)
        command += " equalizer " + std::to_string(vantrel::TEqualizer::kDefaultFreqs[band]) + " 3q " +
                   std::to_string(kBandDb[band]);
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            return;
        }
    }
    std::error_code error;
    if (fs::file_size(output, error) != kFileBytes)
        state.SkipWithError("the SoX output file has the wrong size");
    fs::remove(output, error);
    SetCounters(state);
}

} // namespace

BENCHMARK(OurChain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(Sox)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK_MAIN();
