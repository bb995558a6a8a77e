// Ripping CD+G packs with `vantrel-cli rip --cdg`: the command line and the disc generator
// run as processes, the .cdg files compared with the packs the generator put on the disc;
// and the lining up of a play's packs with its track.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CdgFile.h"
#include "CliRun.h"
#include "common/TempDir.h"
#include "vdrive/codec/CdgPack.h"

namespace vantrel {
namespace {

using cli::CdgTail;
using cli::LineUpCdgPacks;

constexpr std::size_t kPack = 24, kSectorPacks = 4, kSubBytes = kPack * kSectorPacks;

using testing::Execute;
using testing::Outcome;

std::vector<std::uint8_t> Bytes(const std::string& file)
{
    const std::string text = testing::TempDir::Read(file);
    return {text.begin(), text.end()};
}

// Every pack of the disc in disc order (pack 4 x LBA + p) as the generator made it, spoiled
// symbols and all: the R-W bits of its raw .sub file through the generator's own
// de-interleaver, flushed with 7 empty packs.
std::vector<std::uint8_t> DiscPacks(const std::string& subFile)
{
    std::vector<std::uint8_t> packs = Bytes(subFile);
    for (std::uint8_t& b : packs)
        b &= 0x3F;
    packs.resize(packs.size() + vdrive::CdgInterleaver::kDelayPacks * kPack, 0);
    vdrive::CdgDeinterleaver deinterleaver;
    deinterleaver.Deinterleave(packs.data(), packs.size() / kPack);
    packs.erase(packs.begin(), packs.begin() + vdrive::CdgInterleaver::kDelayPacks * kPack);
    return packs;
}

// The size of a WAV file's data chunk, or -1.
std::int64_t WavDataBytes(const std::string& file)
{
    const std::string wav = testing::TempDir::Read(file);
    const std::size_t at = wav.find("data", 12);
    if (at == std::string::npos || at + 8 > wav.size())
        return -1;
    const auto* size = reinterpret_cast<const unsigned char*>(wav.data() + at + 4);
    return size[0] | size[1] << 8 | size[2] << 16 | std::int64_t{size[3]} << 24;
}

// The first pack where two runs of packs differ, for messages.
std::string FirstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i])
            return "first difference in pack " + std::to_string(i / kPack) + ", symbol " + std::to_string(i % kPack);
    return a.size() == b.size() ? "equal" : "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

class CdgRipTest : public ::testing::Test {
protected:
    // The disc made from the description in the folder `name`; the image's path.
    std::string MakeDisc(const std::string& description, const std::string& name)
    {
        const Outcome made = Execute(std::string(MKDISC) + " -e '" + description + "' " + dir.File(name));
        EXPECT_EQ(made.status, 0) << made.out;
        return made.out.substr(0, made.out.find('\n'));
    }
    Outcome Cli(const std::string& arguments) { return Execute(std::string(VANTREL_CLI) + " " + arguments); }

    testing::TempDir dir;
};

// Graphics on tracks 1 and 3 (every other pack an instruction), none on track 2.
struct TrackLayout {
    int number;
    std::size_t lba, sectors;
    bool cdg;
};
constexpr TrackLayout kTracks[] = {{1, 0, 300, true}, {2, 300, 150, false}, {3, 450, 150, true}};
const char kTrackLines[] = "track length=00:04:00 cdg=1\ntrack length=00:02:00\ntrack length=00:02:00 cdg=1\n";
// One wrong symbol in each of these packs (disc pack number, symbol): at both ends of
// track 1, in its last 7 packs (read after the play), in the middle and at the start of
// track 3, in instruction packs and in empty ones.
const std::pair<std::size_t, int> kSpoiled[] = {{0, 4},     {37, 0},    {38, 19},  {777, 1},
                                                {1197, 10}, {1199, 23}, {1800, 2}, {2101, 17}};

TEST_F(CdgRipTest, CdgFilesHoldTheTracksPacksInPlayOrder)
{
    std::string errors;
    std::set<std::size_t> spoiledPacks;
    for (const auto& [pack, symbol] : kSpoiled) {
        errors += " cdg-error=" + std::to_string(pack) + ":" + std::to_string(symbol);
        spoiledPacks.insert(pack);
    }
    MakeDisc(std::string("disc sub=raw\n") + kTrackLines, "clean");
    const std::string image = MakeDisc("disc sub=raw" + errors + "\n" + kTrackLines, "spoiled");
    const std::vector<std::uint8_t> clean = DiscPacks(dir.File("clean/disc.sub"));
    const std::vector<std::uint8_t> spoiled = DiscPacks(dir.File("spoiled/disc.sub"));
    ASSERT_EQ(clean.size(), 600 * kSubBytes);
    ASSERT_EQ(spoiled.size(), clean.size());
    for (std::size_t p = 0; p < clean.size() / kPack; ++p)
        ASSERT_EQ(!std::equal(clean.begin() + p * kPack, clean.begin() + (p + 1) * kPack, spoiled.begin() + p * kPack),
                  spoiledPacks.count(p) == 1)
            << "pack " << p;

    // Raw packs are corrected by the player, R-W by the drive before it hands them out: the
    // files hold the packs the generator made, whatever the way.
    struct Case {
        const char* name;
        const char* options;
    };
    const Case cases[] = {
        {"raw P-W, the default", ""},
        {"raw P-W asked for", "--subcode raw"},
        {"raw P-W through READ(10)", "--method toshiba"},
        {"R-W as the drive de-interleaves and corrects them", "--subcode rw"},
        {"R-W through READ CD MSF", "--method mmc-msf --subcode rw"},
    };
    int seed = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = dir.File(std::string("rip-") + std::to_string(seed));
        // Jitter below a sector, well inside the 5-sector overlap and the 2 compared ones.
        const Outcome run = Cli("rip --image " + image + " --out " + out + " --cdg --overlaps 5 --compares 2 " +
                                "--drive-option jitter=500,seed=" + std::to_string(seed++) + " " + c.options);
        ASSERT_EQ(run.status, 0) << run.out;
        for (const TrackLayout& t : kTracks) {
            SCOPED_TRACE(::testing::Message() << "track " << t.number);
            const std::string name = out + "/Track 0" + std::to_string(t.number);
            const std::vector<std::uint8_t> file = Bytes(name + ".cdg");
            ASSERT_EQ(file.size(), t.sectors * kSubBytes) << run.out;
            EXPECT_EQ(WavDataBytes(name + ".wav"), static_cast<std::int64_t>(t.sectors * 2352));

            std::vector<std::uint8_t> expected(clean.begin() + t.lba * kSubBytes,
                                               clean.begin() + (t.lba + t.sectors) * kSubBytes);
            // A track's last 7 packs are read after its play from the two sectors past its
            // end; past the end of the disc the drive refuses, and they stay empty.
            if (t.number == std::end(kTracks)[-1].number)
                std::fill(expected.end() - 7 * kPack, expected.end(), 0);
            if (!t.cdg)
                EXPECT_EQ(std::count(file.begin(), file.end(), 0), static_cast<std::ptrdiff_t>(file.size()));
            else
                EXPECT_GT(std::count_if(expected.begin(), expected.end(), [](std::uint8_t b) { return b != 0; }), 0);
            EXPECT_TRUE(file == expected) << FirstDifference(file, expected) << "\n" << run.out;
        }
        EXPECT_NE(run.out.find("the last 7 packs could not be read"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("1 without their last 7 packs"), std::string::npos) << run.out;
    }
}

TEST_F(CdgRipTest, RefusedSettingsFailAndWriteNothing)
{
    const std::string image = MakeDisc(std::string("disc sub=raw\n") + kTrackLines, "disc");
    struct Case {
        const char* options;
        const char* message;
    };
    const Case cases[] = {
        {"--cdg --subcode xyz", "unknown sub-code mode xyz"},
        {"--subcode raw", "--subcode goes with --cdg"},
        {"--cdg --method sony", "READ CDDA brings no CD+G"},
        {"--cdg --method toshiba --subcode rw", "use --subcode raw"},
        {"--cdg --reverse", "--cdg needs the audio at normal speed and forwards"},
        {"--cdg --speed 1", "--cdg needs the audio at normal speed and forwards"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string out = dir.File("out-" + std::to_string(n++));
        const Outcome run = Cli("rip --image " + image + " --out " + out + " " + c.options);
        EXPECT_NE(run.status, 0) << c.options;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << c.options << ": " << run.out;
        EXPECT_TRUE(!std::filesystem::exists(out) || std::filesystem::is_empty(out)) << c.options;
    }
}

TEST_F(CdgRipTest, AFileThatCannotBeWrittenFailsItsTrack)
{
    const std::string image = MakeDisc(std::string("disc sub=raw\n") + kTrackLines, "disc");
    const std::string out = dir.File("out");
    std::filesystem::create_directories(out + "/Track 01.cdg/in the way");
    const Outcome run = Cli("rip --image " + image + " --out " + out + " --cdg --track 1");
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("track 01  FAILED"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("cannot write " + out + "/Track 01.cdg"), std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::is_directory(out + "/Track 01.cdg"));
    for (const auto& entry : std::filesystem::directory_iterator(out)) // no temporary file left behind
        EXPECT_EQ(entry.path().filename().string().rfind("Track 01.cdg.", 0), std::string::npos) << entry.path();
}

// The packs of a play whose pack k is filled with k + 1, so that every place shows.
std::vector<std::uint8_t> NumberedPacks(std::size_t count)
{
    std::vector<std::uint8_t> packs(count * kPack);
    for (std::size_t k = 0; k < count; ++k)
        std::fill_n(packs.begin() + k * kPack, kPack, static_cast<std::uint8_t>(k + 1));
    return packs;
}

TEST(CdgLineUp, PacksAreShiftedPaddedAndCutToTheTrack)
{
    // A play of 10 sectors (40 packs) of a 10-sector track, or of 11 sectors when an offset
    // of part of a sector moves it. The file holds the play's packs from the 8th on, then
    // the tail (packs of 99), or empty packs without it; a shortfall before the tail is
    // made up with empty packs, a surplus cut there.
    CdgTail tail;
    tail.fill(99);
    struct Case {
        const char* name;
        std::size_t delivered;
        std::int64_t playSectors;
        bool withTail;
        std::int64_t padded, cut;
    };
    const Case cases[] = {
        {"as delivered", 40, 10, true, 0, 0},
        {"without the tail", 40, 10, false, 0, 0},
        {"4 packs short", 36, 10, true, 4, 0},
        {"4 packs over", 44, 10, true, 0, 4},
        {"one sector more read for the offset", 44, 11, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> packs = NumberedPacks(c.delivered);
        const auto report = LineUpCdgPacks(packs, c.playSectors, 10, c.withTail ? std::optional(tail) : std::nullopt);
        EXPECT_EQ(report.Padded(), c.padded);
        EXPECT_EQ(report.Cut(), c.cut);
        EXPECT_EQ(report.tailLost, !c.withTail);
        ASSERT_EQ(packs.size(), 40 * kPack);
        const auto body = static_cast<std::size_t>(c.playSectors * 4 - 7); // where the tail goes
        for (std::size_t k = 0; k < 40; ++k) {
            std::uint8_t want = 0;
            if (k >= body)
                want = c.withTail ? 99 : 0;
            else if (k + 7 < c.delivered)
                want = static_cast<std::uint8_t>(k + 8);
            EXPECT_EQ(packs[k * kPack], want) << "pack " << k;
            EXPECT_EQ(packs[k * kPack + kPack - 1], want) << "pack " << k;
        }
    }
}

} // namespace
} // namespace vantrel
