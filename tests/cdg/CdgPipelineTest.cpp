#include "cdg/CdgPipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cdg/CdgBuffer.h"
#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "vdrive/CloneCd.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/codec/CdgPack.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kSectors = 300; // the discs' one track: 00:04:00 of CD+G from sector 0
// One wrong symbol in packs 100, 203 and 517. Pack 601 gets two, too many for P; Q then
// repairs symbol 2, its own, and symbol 9 stays wrong.
constexpr const char* kTrack = "track length=00:04:00 cdg=1\n";
constexpr const char* kErrors = " cdg-error=100:0 cdg-error=203:7 cdg-error=517:23 cdg-error=601:2 cdg-error=601:9";
constexpr std::size_t kTwoErrorPack = 601 + 7; // where it comes out of the delay line

class CdgPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Load(clean, std::string("disc sub=raw name=clean\n") + kTrack);
        Load(spoilt, std::string("disc sub=raw name=spoilt") + kErrors + "\n" + kTrack);
    }

    void Load(vdrive::VirtualDrive& drive, const std::string& description)
    {
        drive.Insert(testing::MakeTestDisc(dir, description));
    }

    // READ CD of the sub-channel alone: selection 1 raw P-W, 4 R-W de-interleaved by the drive.
    static Bytes ReadSub(vdrive::VirtualDrive& drive, std::int64_t lba, int count, std::uint8_t selection)
    {
        const std::uint8_t cdb[12] = {0xBE, 0, 0, 0, static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba),
                                      0, static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count),
                                      0x00, selection, 0};
        Bytes sub(static_cast<std::size_t>(count) * 96);
        const vdrive::CommandResult r = drive.Execute(cdb, sizeof cdb, vdrive::Direction::In, sub.data(), sub.size());
        EXPECT_EQ(r.status, vdrive::kStatusGood);
        EXPECT_EQ(r.transferred, sub.size());
        return sub;
    }

    testing::TempDir dir;
    vdrive::VirtualDrive clean, spoilt;
};

vdrive::CdgPack PackAt(const Bytes& bytes, std::size_t p)
{
    vdrive::CdgPack pack;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(p * kCdgPackBytes), kCdgPackBytes, pack.begin());
    return pack;
}

// The first pack in which a and b differ, or -1 (then they also have the same length).
std::int64_t FirstDifference(const Bytes& a, const Bytes& b)
{
    const std::size_t packs = std::min(a.size(), b.size()) / kCdgPackBytes;
    for (std::size_t p = 0; p < packs; ++p)
        if (PackAt(a, p) != PackAt(b, p))
            return static_cast<std::int64_t>(p);
    return a.size() == b.size() ? -1 : static_cast<std::int64_t>(packs);
}

// The whole track as the player reads it: runs of 10 sectors that overlap by 1, processed on
// a reading thread and put into the buffer, which this thread empties as the window would.
TEST_F(CdgPipelineTest, OverlappingReadsOfTheDiscArriveAsItsPacks)
{
    const Bytes reference = ReadSub(clean, 0, kSectors, 4);
    // The spoilt disc's packs with the errors left in: its raw sub-channel, masked to R-W and
    // de-interleaved by the disc generator's own delay line.
    Bytes asRead = ReadSub(spoilt, 0, kSectors, 1);
    for (std::uint8_t& byte : asRead)
        byte &= 0x3F;
    vdrive::CdgDeinterleaver().Deinterleave(asRead.data(), asRead.size() / kCdgPackBytes);
    // What the disc generator made: nothing from the delay line's first 7 packs, then its
    // graphics (colour tables, screen, border on the even packs) with valid parity.
    const int instructions[] = {vdrive::CdgPacks::kLoadClutLow, vdrive::CdgPacks::kLoadClutHigh,
                                vdrive::CdgPacks::kMemoryPreset, vdrive::CdgPacks::kBorderPreset};
    for (std::size_t p = 0; p < 4; ++p) {
        EXPECT_EQ(PackAt(reference, 7 + 2 * p)[0], vdrive::CdgPacks::kGraphicsCommand);
        EXPECT_EQ(PackAt(reference, 7 + 2 * p)[1], instructions[p]);
    }
    for (std::size_t p = 0; p < reference.size() / kCdgPackBytes; ++p) {
        vdrive::CdgPack pack = PackAt(reference, p), again = pack;
        vdrive::EncodeCdgParity(again.data());
        ASSERT_EQ(again, pack) << "pack " << p;
        if (p < 7) {
            ASSERT_EQ(pack, vdrive::CdgPack{}) << "pack " << p;
        }
    }
    // Correction repairs every pack but the one with two wrong symbols, and there Q's.
    Bytes corrected = reference;
    const std::size_t twoErrors = kTwoErrorPack * kCdgPackBytes;
    std::copy_n(asRead.begin() + twoErrors, kCdgPackBytes, corrected.begin() + twoErrors);
    ASSERT_NE(corrected[twoErrors + 2], reference[twoErrors + 2]);
    corrected[twoErrors + 2] = reference[twoErrors + 2];
    ASSERT_NE(FirstDifference(asRead, corrected), -1);
    // The drive corrects R-W too, but only what one changed symbol explains: the pack with
    // two wrong ones it leaves as it is.
    Bytes driveCorrected = reference;
    std::copy_n(asRead.begin() + twoErrors, kCdgPackBytes, driveCorrected.begin() + twoErrors);
    ASSERT_EQ(FirstDifference(ReadSub(spoilt, 0, kSectors, 4), driveCorrected), -1);

    const struct {
        std::string what;
        std::uint8_t selection;
        bool raw, correct;
        const Bytes& expected;
    } cases[] = {
        {"raw, corrected", 1, true, true, corrected},
        {"raw, not corrected", 1, true, false, asRead},
        {"R-W from the drive, as read", 4, false, true, driveCorrected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TCdgPipeline pipeline;
        ASSERT_TRUE(pipeline.Setup({c.raw, c.correct, 1, 4}));
        TCdgBuffer buffer;
        std::atomic<bool> done{false};
        std::vector<TCdgSyncResult> codes;
        std::thread reader([&] {
            for (std::int64_t lba = 0;; lba += 9) {
                const auto n = static_cast<int>(std::min<std::int64_t>(10, kSectors - lba));
                Bytes sub = ReadSub(spoilt, lba, n, c.selection);
                const TCdgRunPacks run =
                    pipeline.Process(sub.data(), static_cast<std::uint32_t>(n), lba == 0 ? 0 : 1);
                codes.push_back(run.sync);
                buffer.Put(run.packs, run.count);
                if (lba + n == kSectors)
                    break;
            }
            done = true;
        });
        Bytes received;
        for (bool finished = false, empty = false; !(finished && empty);) {
            finished = done;
            std::unique_ptr<std::uint8_t[]> packs;
            const std::size_t n = buffer.TakeAll(packs);
            received.insert(received.end(), packs.get(), packs.get() + n * kCdgPackBytes);
            empty = n == 0;
            if (empty)
                std::this_thread::yield();
        }
        reader.join();

        EXPECT_EQ(FirstDifference(received, c.expected), -1);
        ASSERT_FALSE(codes.empty());
        EXPECT_EQ(codes.front(), csNothingHeld);
        EXPECT_EQ(std::count(codes.begin() + 1, codes.end(), csFoundForward), std::ssize(codes) - 1);
    }
}

// After a seek nothing of the old place is matched or mixed in: the pipeline goes on as a
// new one would.
TEST_F(CdgPipelineTest, ASeekStartsAfresh)
{
    const TCdgPipelineSetup setup{true, true, 2, 4};
    TCdgPipeline playing, fresh;
    ASSERT_TRUE(playing.Setup(setup));
    ASSERT_TRUE(fresh.Setup(setup));
    Bytes first = ReadSub(spoilt, 0, 10, 1), second = ReadSub(spoilt, 8, 10, 1);
    playing.Process(first.data(), 10, 0);
    EXPECT_EQ(playing.Process(second.data(), 10, 2).sync, csFoundForward);

    playing.Restart();
    Bytes there = ReadSub(spoilt, 200, 10, 1), again = there;
    const TCdgRunPacks afterSeek = playing.Process(there.data(), 10, 2);
    const TCdgRunPacks asNew = fresh.Process(again.data(), 10, 2);
    EXPECT_EQ(afterSeek.sync, csNothingHeld);
    ASSERT_EQ(afterSeek.count, asNew.count);
    EXPECT_TRUE(std::equal(afterSeek.packs, afterSeek.packs + afterSeek.count * kCdgPackBytes, asNew.packs));
}

} // namespace
} // namespace vantrel
