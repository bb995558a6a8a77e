// Playing through ALSA at normal speed: CPU time spent per second of audio while the
// player component plays a generated track to ALSA's pulse device (a private PulseAudio
// daemon with a null sink is started for the run), and the time from the start of play
// until its first sound reaches the sink, measured on the sink's monitor.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "Ripper.h"
#include "common/PulseServer.h"
#include "vdrive/DiscMaker.h"

namespace {

using namespace std::chrono;

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void PlayOneSecond(benchmark::State& state)
{
    vantrel::testing::PulseServer server;
    if (!server.Ready()) {
        state.SkipWithError("no PulseAudio daemon could be started");
        return;
    }
    vantrel::vdrive::DiscPlan plan;
    std::string error, image;
    vantrel::testing::TempDir dir;
    vantrel::vdrive::ParseDiscPlan("disc\ntrack length=00:10:00\n", plan, error);
    vantrel::vdrive::MakeDisc(plan, dir.Path().string(), image, error);
    vantrel::cli::DriveSession session;
    session.Open(image, "", error);
    const vantrel::TKsCdRom* drive = session.FindDrive(session.ImageLetter(), error);
    vantrel::cli::RipOptions options;
    for (const auto& d : vantrel::cli::SoundDevices())
        if (d.pcm == "pulse")
            options.soundDevice = d.index;
    double cpuPerSecond = 0, firstSoundMs = 0;
    for (auto _ : state) {
        vantrel::testing::PulseServer::Recording recording(server.File("heard.raw"));
        const auto recordingSince = steady_clock::now();
        std::vector<vantrel::cli::RipTrackResult> results;
        const auto playFrom = steady_clock::now();
        const double cpuBefore = CpuSeconds();
        vantrel::cli::RipTracks(session, *drive, options, results, error);
        const double cpuUsed = CpuSeconds() - cpuBefore;
        recording.Stop();
        if (results.empty() || !results[0].ok) {
            state.SkipWithError("the play failed");
            return;
        }
        cpuPerSecond = cpuUsed / 10.0;
        const auto frames = recording.Frames();
        std::size_t first = 0;
        while (first < frames.size() && frames[first] == 0)
            ++first;
        const double soundAt = static_cast<double>(first) / 44100.0 * 1000.0;  // ms after recording began
        firstSoundMs = soundAt - duration<double, std::milli>(playFrom - recordingSince).count();
        state.SetIterationTime(cpuPerSecond);
    }
    state.counters["cpu_ms_per_audio_s"] = cpuPerSecond * 1000.0;
    state.counters["first_sound_ms"] = firstSoundMs;
}

// One second of audio: the time the player may spend on it at normal speed.
void RealTimeSecond(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(1.0);
}

BENCHMARK(PlayOneSecond)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(RealTimeSecond)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
