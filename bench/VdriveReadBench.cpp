// Reading a 74-minute disc image through the emulated drive (READ CD, plain audio, 25
// frames per command, as the digital player reads) against reading the same BIN file
// sequentially in blocks of the same size. The image is generated once into the
// temporary folder (about 780 MB) and kept for later runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "vdrive/CueSheet.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/VirtualDrive.h"

namespace {

using namespace vantrel::vdrive;

constexpr std::uint32_t kBlock = 25;

const std::string& ImageFolder()
{
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() / "vantrel-bench-74min";
        std::filesystem::create_directories(path);
        if (!std::filesystem::exists(path / "disc.cue")) {
            DiscPlan plan;
            std::string error, image;
            if (!ParseDiscPlan("disc name=disc\ntrack length=74:00:00\n", plan, error) ||
                !MakeDisc(plan, path.string(), image, error))
                std::fprintf(stderr, "bench: %s\n", error.c_str());
        }
        return path.string();
    }();
    return folder;
}

void PlainRead(benchmark::State& state)
{
    const std::string bin = ImageFolder() + "/disc.bin";
    std::vector<std::uint8_t> buffer(kBlock * kSectorBytes);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const int fd = ::open(bin.c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t n = 0;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
            bytes += n;
        ::close(fd);
    }
    state.SetBytesProcessed(bytes);
}

void DriveReadCd(benchmark::State& state)
{
    auto disc = std::make_shared<Disc>();
    std::string error;
    if (!ReadCueSheet(ImageFolder() + "/disc.cue", *disc, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    VirtualDrive drive;
    drive.Insert(disc);
    std::vector<std::uint8_t> buffer(kBlock * kSectorBytes);
    std::int64_t bytes = 0;
    for (auto _ : state) {
        for (std::int64_t lba = 0; lba + kBlock <= disc->LeadOut(); lba += kBlock) {
            const std::uint8_t cdb[12] = {0xBE, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                                          static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0,
                                          kBlock, 0x10, 0, 0};
            const CommandResult result = drive.Execute(cdb, sizeof cdb, Direction::In, buffer.data(), buffer.size());
            if (result.status != kStatusGood) {
                state.SkipWithError("READ CD refused");
                return;
            }
            bytes += static_cast<std::int64_t>(result.transferred);
        }
    }
    state.SetBytesProcessed(bytes);
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(DriveReadCd)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
