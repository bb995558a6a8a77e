#include "RipBenchOurs.h"

#include <cstdio>
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

bool RipWithPlayer(const std::string& image, const std::string& driveOptions, const std::string& outFolder)
{
    std::filesystem::remove_all(outFolder);
    cli::DriveSession session;
    std::string error;
    if (!session.Open(image, driveOptions, error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return false;
    }
    const TKsCdRom* drive = session.FindDrive(session.ImageLetter(), error);
    cli::RipOptions options;
    options.outFolder = outFolder;
    std::vector<cli::RipTrackResult> results;
    if (!drive || !cli::RipTracks(session, *drive, options, results, error)) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return false;
    }
    bool exact = !results.empty();
    std::int64_t position = 150 * 588;  // the generated disc's track 1 starts at 00:02:00
    for (const cli::RipTrackResult& r : results) {
        const std::vector<std::uint8_t> data = WavData(r.file);
        exact = exact && r.ok && !data.empty();
        for (std::size_t i = 0; exact && i + 4 <= data.size(); i += 4, ++position) {
            const auto left = static_cast<std::int16_t>(data[i] | data[i + 1] << 8);
            const auto right = static_cast<std::int16_t>(data[i + 2] | data[i + 3] << 8);
            exact = vdrive::CounterPosition(left, right) == position;
        }
    }
    return exact;
}

}  // namespace vantrel::bench
