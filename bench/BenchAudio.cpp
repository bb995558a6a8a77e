#include "BenchAudio.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "output/OutputManager.h"

namespace vantrel::bench {
namespace {

namespace fs = std::filesystem;

void PutLe(std::ofstream& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.put(static_cast<char>(value >> (8 * i)));
}

} // namespace

fs::path MakeInput(const fs::path& path, const TFrameMaker& makeFrame)
{
    std::error_code error;
    if (fs::file_size(path, error) == kFileBytes)
        return path;
    fs::create_directories(path.parent_path());
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
    for (std::size_t frame = 0; frame < kFrames; frame += kChunkFrames) {
        const std::size_t frames = std::min(kChunkFrames, kFrames - frame);
        for (std::size_t i = 0; i < frames; ++i)
            makeFrame(frame + i, &chunk[2 * i]);
        out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(frames * 4));
    }
    return path;
}

std::size_t WavFrames(const fs::path& path)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error || size < kHeaderBytes ? 0 : static_cast<std::size_t>(size - kHeaderBytes) / 4;
}

void SetUpFileOutput(TOutputManager& manager, const fs::path& output)
{
    manager.SetOutputMode(omDisk);
    manager.SetInputFormat(wdInt16, kRate);
    manager.SetInternalFormat(wdInt24In32);
    manager.SetOutputFormat(wdInt16, kRate, false);
    manager.SetBuffers(500, 2);
    manager.SetFileName(output.string());
}

bool PlayFile(TOutputManager& manager, const fs::path& input,
              const std::function<void(std::size_t frames)>& beforeChunk)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(input.c_str(), "rb"), std::fclose);
    bool ok = in && std::fseek(in.get(), kHeaderBytes, SEEK_SET) == 0;
    std::vector<std::int16_t> chunk(2 * kChunkFrames);
    while (ok) {
        const std::size_t frames = std::fread(chunk.data(), 4, kChunkFrames, in.get());
        if (frames == 0)
            break;
        if (beforeChunk)
            beforeChunk(frames);
        ok = manager.Write(chunk.data(), frames);
    }
    ok = manager.Flush() && ok;
    return manager.Close() && ok;
}

void SetFileCounters(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kFrames * 4));
    state.counters["x_realtime"] = benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace vantrel::bench
