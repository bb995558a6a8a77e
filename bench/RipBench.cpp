// Ripping a generated 10-minute disc: our digital path end to end (reads with jitter,
// overlap and synchronizer, WAV file out), a plain sequential read of the image, and
// libcdio-paranoia in full paranoia mode fed the same jittered sectors by the emulated
// drive. Each rip reports whether its output follows the image sample for sample
// ("continuous"), how many samples it starts off the track start ("shift": the first
// read's jitter, which nothing can tell from the audio) and whether it is "exact".
#include <benchmark/benchmark.h>
#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "RipBenchOurs.h"
#include "vdrive/CueSheet.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/VirtualDrive.h"

namespace {

using namespace vantrel::vdrive;

constexpr const char* kJitter = "jitter=300,seed=5";

const std::string& Folder()
{
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() / "vantrel-bench-10min";
        std::filesystem::create_directories(path);
        if (!std::filesystem::exists(path / "disc.cue")) {
            DiscPlan plan;
            std::string error, image;
            if (!ParseDiscPlan("disc name=disc\ntrack length=10:00:00\n", plan, error) ||
                !MakeDisc(plan, path.string(), image, error))
                std::fprintf(stderr, "bench: %s\n", error.c_str());
        }
        return path.string();
    }();
    return folder;
}

std::shared_ptr<Disc> LoadDisc()
{
    auto disc = std::make_shared<Disc>();
    std::string error;
    if (!ReadCueSheet(Folder() + "/disc.cue", *disc, error))
        std::fprintf(stderr, "bench: %s\n", error.c_str());
    return disc;
}

void PlainRead(benchmark::State& state)
{
    const std::string bin = Folder() + "/disc.bin";
    std::vector<std::uint8_t> buffer(25 * kSectorBytes);
    for (auto _ : state) {
        const int fd = ::open(bin.c_str(), O_RDONLY | O_CLOEXEC);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
}

// The paranoia library reads through this: sectors of the emulated drive, jitter and all.
VirtualDrive* gDrive = nullptr;

long ReadThroughDrive(cdrom_drive_t*, void* out, lsn_t begin, long sectors)
{
    if (!out)
        return sectors;
    const std::uint8_t cdb[12] = {0xBE, 0, static_cast<std::uint8_t>(begin >> 24), static_cast<std::uint8_t>(begin >> 16),
                                  static_cast<std::uint8_t>(begin >> 8), static_cast<std::uint8_t>(begin), 0,
                                  static_cast<std::uint8_t>(sectors >> 8), static_cast<std::uint8_t>(sectors), 0x10,
                                  0, 0};
    const CommandResult result = gDrive->Execute(cdb, sizeof cdb, Direction::In, static_cast<std::uint8_t*>(out),
                                                 static_cast<std::size_t>(sectors) * kSectorBytes);
    return result.status == kStatusGood ? sectors : -1;
}

void Paranoia(benchmark::State& state)
{
    const auto disc = LoadDisc();
    DriveOptions options;
    std::string error;
    ParseDriveOptions(kJitter, options, error);
    bool exact = true, continuous = true;
    std::int64_t shift = 0;
    for (auto _ : state) {
        VirtualDrive drive(options);
        drive.Insert(disc);
        gDrive = &drive;
        CdIo_t* cdio = cdio_open((Folder() + "/disc.cue").c_str(), DRIVER_BINCUE);
        cdrom_drive_t* d = cdio ? cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr) : nullptr;
        if (!d || cdio_cddap_open(d) != 0) {
            state.SkipWithError("libcdio could not open the image");
            return;
        }
        d->read_audio = ReadThroughDrive;
        d->bigendianp = 0;
        d->b_swap_bytes = false;
        cdrom_paranoia_t* p = cdio_paranoia_init(d);
        cdio_paranoia_modeset(p, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
        const lsn_t first = cdio_cddap_disc_firstsector(d);
        const lsn_t last = cdio_cddap_disc_lastsector(d);
        cdio_paranoia_seek(p, first, SEEK_SET);
        std::vector<std::int64_t> positions;
        positions.reserve(static_cast<std::size_t>(last - first + 1) * 588);
        for (lsn_t lsn = first; lsn <= last; ++lsn) {
            const std::int16_t* samples = cdio_paranoia_read(p, nullptr);
            for (int i = 0; i < kSectorBytes / 4; ++i)
                positions.push_back(CounterPosition(samples[2 * i], samples[2 * i + 1]));
        }
        const vantrel::bench::SampleRun run = vantrel::bench::CheckRun(positions, (first + 150) * 588);
        continuous = continuous && run.continuous;
        shift = run.shift;
        exact = continuous && shift == 0;
        cdio_paranoia_free(p);
        cdio_cddap_close(d);
        gDrive = nullptr;
    }
    state.counters["continuous"] = continuous ? 1 : 0;
    state.counters["exact"] = exact ? 1 : 0;
    state.counters["shift"] = static_cast<double>(shift);
}

void OurRip(benchmark::State& state)
{
    vantrel::bench::RipCheck check;
    for (auto _ : state)
        check = vantrel::bench::RipWithPlayer(Folder() + "/disc.cue", kJitter, Folder() + "/ours");
    state.counters["continuous"] = check.continuous ? 1 : 0;
    state.counters["exact"] = check.exact ? 1 : 0;
    state.counters["shift"] = static_cast<double>(check.shift);
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(OurRip)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(Paranoia)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
