#include "RipBenchOurs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "Ripper.h"
#include "drive/CdAddress.h"
#include "vdrive/DiscMaker.h"

namespace vantrel::bench {

namespace {

// The samples of a 16-bit stereo WAV file, from its "data" chunk.
std::vector<std::uint8_t> WavData(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::uint32_t size = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | std::uint32_t{bytes[at + 7]} << 24;
        if (std::memcmp(bytes.data() + at, "data", 4) == 0)
            return {bytes.begin() + static_cast<long>(at + 8),
                    bytes.begin() + static_cast<long>(std::min<std::size_t>(bytes.size(), at + 8 + size))};
        at += 8 + size + (size & 1);
    }
    return {};
}

}  // namespace

SampleRun CheckRun(const std::vector<std::int64_t>& positions, std::int64_t expectedFirst)
{
    // Silence (no position) can only stand at the edges: where a read jittered past the
    // start or the end of the disc there is nothing to hear.
    std::size_t first = 0, last = positions.size();
    while (first < last && positions[first] < 0)
        ++first;
    while (last > first && positions[last - 1] < 0)
        --last;
    SampleRun run;
    if (first == last)
        return run;
    run.shift = positions[first] - (expectedFirst + static_cast<std::int64_t>(first));
    run.continuous = std::abs(run.shift) >= static_cast<std::int64_t>(std::max(first, positions.size() - last));
    for (std::size_t i = first + 1; run.continuous && i < last; ++i)
        run.continuous = positions[i] == positions[i - 1] + 1;
    return run;
}

RipCheck RipWithPlayer(const std::string& image, const std::string& driveOptions, const std::string& outFolder)
{
    RipCheck check;
    std::filesystem::remove_all(outFolder);
    cli::DriveSession session;
    std::string error;
    if (!session.Open(image, driveOptions, error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return check;
    }
    const TKsCdRom* drive = session.FindDrive(session.ImageLetter(), error);
    cli::RipOptions options;
    options.outFolder = outFolder;
    std::vector<cli::RipTrackResult> results;
    if (!drive || !cli::RipTracks(session, *drive, options, results, error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return check;
    }
    check.ripped = !results.empty();
    check.continuous = true;
    constexpr std::int64_t kTrackStart = 150 * 588;  // the generated disc's only track starts at 00:02:00
    for (const cli::RipTrackResult& r : results) {
        const std::vector<std::uint8_t> data = WavData(r.file);
        check.ripped = check.ripped && r.ok && !data.empty();
        std::vector<std::int64_t> positions(data.size() / 4);
        for (std::size_t i = 0; i < positions.size(); ++i)
            positions[i] = vdrive::CounterPosition(static_cast<std::int16_t>(data[4 * i] | data[4 * i + 1] << 8),
                                                   static_cast<std::int16_t>(data[4 * i + 2] | data[4 * i + 3] << 8));
        const SampleRun run = CheckRun(positions, kTrackStart);
        check.continuous = check.continuous && run.continuous;
        check.shift = run.shift;
    }
    check.continuous = check.continuous && check.ripped;
    check.exact = check.continuous && check.shift == 0;
    return check;
}

}  // namespace vantrel::bench
