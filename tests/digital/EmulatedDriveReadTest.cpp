// The same whole-track reading, now from the emulated drive with its read jitter: READ CD
// blocks of a generated disc whose samples name their own position, joined by the
// synchronizer, must give the disc's audio sample for sample.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "digital/JitteredReader.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel {
namespace {

using testing::PlayTrack;
using testing::TPlayback;
using testing::TReadSettings;

constexpr std::int64_t kStart = 20, kEnd = 2020;  // sectors of the generated track

std::int64_t Position(std::uint32_t sample)
{
    return vdrive::CounterPosition(static_cast<std::int16_t>(sample & 0xFFFF), static_cast<std::int16_t>(sample >> 16));
}

class EmulatedDriveRead : public ::testing::Test {
protected:
    EmulatedDriveRead()
    {
        disc = testing::MakeTestDisc(dir, "disc\ntrack length=00:30:00\n");
    }

    TPlayback Play(const std::string& options, const TReadSettings& settings)
    {
        vdrive::DriveOptions parsed;
        std::string error;
        EXPECT_TRUE(vdrive::ParseDriveOptions(options, parsed, error)) << error;
        vdrive::VirtualDrive drive(parsed);
        drive.Insert(disc);
        auto source = [&drive](std::int64_t frame, int frames, std::uint8_t* out) {
            const std::uint8_t cdb[12] = {0xBE, 0, static_cast<std::uint8_t>(frame >> 24),
                                          static_cast<std::uint8_t>(frame >> 16), static_cast<std::uint8_t>(frame >> 8),
                                          static_cast<std::uint8_t>(frame), 0, 0, static_cast<std::uint8_t>(frames),
                                          0x10, 0, 0};
            const auto result = drive.Execute(cdb, sizeof cdb, vdrive::Direction::In, out,
                                              static_cast<std::size_t>(frames) * 2352);
            return result.status == vdrive::kStatusGood;
        };
        return PlayTrack(source, kStart, kEnd, settings);
    }

    testing::TempDir dir;
    std::shared_ptr<vdrive::Disc> disc;
};

TEST_F(EmulatedDriveRead, JitterTheOverlapAbsorbsGivesTheDiscSampleForSample)
{
    // At 25/5/2 a read may be off the first read by (5 - 2) x 588 samples; the drive's
    // jitter is per read, so +-880 stays inside that.
    for (const char* options : {"jitter=0", "jitter=300,seed=1", "jitter=880,seed=7"}) {
        SCOPED_TRACE(options);
        const TPlayback played = Play(options, TReadSettings{});
        ASSERT_FALSE(played.readFailed);
        ASSERT_EQ(played.samples.size(), static_cast<std::size_t>(kEnd - kStart) * 588);
        const std::int64_t first = Position(played.samples.front());
        ASSERT_GE(first, 0);
        EXPECT_LE(std::abs(first - (kStart + 150) * 588), 880) << "the first read is taken as it comes";
        // Everything before the last block follows on without a repeat or a gap.
        const std::size_t checked = played.blocks.back().first;
        std::size_t breaks = 0;
        for (std::size_t i = 0; i < checked; ++i)
            breaks += Position(played.samples[i]) != first + static_cast<std::int64_t>(i);
        EXPECT_EQ(breaks, 0u);
        for (std::size_t b = 1; b + 1 < played.blocks.size(); ++b)
            EXPECT_TRUE(played.blocks[b].result == srMatchAfter || played.blocks[b].result == srMatchBefore)
                << "block " << b;
    }
}

TEST_F(EmulatedDriveRead, MoreJitterIsReportedAndAMatchNeverRepeatsOrSkips)
{
    const TPlayback played = Play("jitter=4000,seed=3", TReadSettings{});
    ASSERT_FALSE(played.readFailed);
    int unmatched = 0;
    for (std::size_t b = 1; b < played.blocks.size(); ++b) {
        const testing::TPlayedBlock& block = played.blocks[b];
        if (block.result == srNoMatch) {
            ++unmatched;
            continue;
        }
        const std::int64_t previous = Position(played.samples[block.first - 1]);
        for (int i = 0; i < block.count; ++i)
            ASSERT_EQ(Position(played.samples[block.first + static_cast<std::size_t>(i)]), previous + 1 + i)
                << "block " << b << " sample " << i;
    }
    EXPECT_GT(unmatched, 0);
}

}  // namespace
}  // namespace vantrel
