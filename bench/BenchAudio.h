// What the benchmarks of the signal chain share: a 10-minute 44.1 kHz 16-bit stereo WAV file
// of generated audio, made once in the temp folder and kept, and playing such a file through
// the output manager chunk by chunk as the player delivers a disc's audio.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

namespace vantrel {
class TOutputManager;
}

namespace vantrel::bench {

inline constexpr int kRate = 44100;
inline constexpr int kSeconds = 600;
inline constexpr std::size_t kFrames = std::size_t{kSeconds} * kRate;
inline constexpr std::size_t kChunkFrames = 25 * 588; // one read of 25 sectors
inline constexpr std::size_t kHeaderBytes = 44;
inline constexpr std::size_t kFileBytes = kHeaderBytes + kFrames * 4;

// Writes the left and right sample of one frame; called for every frame in order, from 0.
using TFrameMaker = std::function<void(std::size_t frame, std::int16_t* out)>;

// The WAV file at path: kFrames frames from makeFrame behind a plain 44-byte header. A file of
// that size already there is taken as it is, so the audio is made only once.
std::filesystem::path MakeInput(const std::filesystem::path& path, const TFrameMaker& makeFrame);

// Frames in a 16-bit stereo WAV file with a plain 44-byte header; 0 when there is none.
std::size_t WavFrames(const std::filesystem::path& path);

// Sets the manager up as the player's chain into a WAV file: 16-bit stereo input at kRate, the
// internal INT24 type, 16-bit output at the same rate, two 500 ms buffers. The stages are the
// caller's to add.
void SetUpFileOutput(TOutputManager& manager, const std::filesystem::path& output);

// Hands the audio of a file made by MakeInput to an opened manager in chunks of kChunkFrames,
// calling beforeChunk (if any) with each chunk's frame count first; then flushes and closes the
// manager. True when all of it worked.
bool PlayFile(TOutputManager& manager, const std::filesystem::path& input,
              const std::function<void(std::size_t frames)>& beforeChunk = {});

// The input's bytes per iteration and its kSeconds as a multiple of real time.
void SetFileCounters(benchmark::State& state);

} // namespace vantrel::bench
