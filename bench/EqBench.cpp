// The digital signal chain over a 10-minute 44.1 kHz 16-bit stereo WAV file: de-emphasis,
// volume and the 15-band equalizer in the internal INT24 type, through the output manager
// into a WAV file, chunk by chunk as the player delivers them; against SoX running gain and
// 15 equalizer effects on the same file into a WAV file, as a process of its own.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>

#include "BenchAudio.h"
#include "dsp/DeEmphsizer.h"
#include "dsp/Equalizer.h"
#include "dsp/VolumeChanger.h"
#include "output/OutputManager.h"

namespace {

namespace fs = std::filesystem;

using namespace vantrel::bench;

constexpr double kVolumeDb = -3.0;
// A smile curve within the slider's +-15 dB, in dB per band.
constexpr std::array<double, vantrel::TEqualizer::kBands> kBandDb{6,  4.5,  3, 1.5, 0, -1.5, -3, -4.5,
                                                                  -3, -1.5, 0, 1.5, 3, 4.5,  6};

fs::path Folder()
{
    return fs::temp_directory_path() / "vantrel-eq-bench";
}

// Music-like input, made once and kept: a few tones and a little noise around -10 dBFS.
fs::path Input()
{
    std::uint32_t noise = 1;
    const double w = 2 * std::numbers::pi / kRate;
    return MakeInput(Folder() / "input.wav", [&](std::size_t frame, std::int16_t* out) {
        const double t = static_cast<double>(frame);
        noise = noise * 1664525u + 1013904223u;
        const double n = static_cast<double>(static_cast<std::int32_t>(noise)) / 2147483648.0;
        const double tone = std::sin(w * 55 * t) + 0.5 * std::sin(w * 440 * t) + 0.25 * std::sin(w * 3520 * t);
        out[0] = static_cast<std::int16_t>(4000 * tone + 1500 * n);
        out[1] = static_cast<std::int16_t>(4000 * std::sin(w * 110 * t) + 3000 * n);
    });
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
    SetUpFileOutput(manager, output);
    manager.SetEqualizer(&equalizer);
    manager.SetVolumeChanger(&volume);
    manager.SetDeEmphsizer(&deEmphsizer);
    return manager.Open() && PlayFile(manager, input);
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
    SetFileCounters(state);
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
    SetFileCounters(state);
}

} // namespace

BENCHMARK(OurChain)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(Sox)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK_MAIN();
