// Whole tracks read the way digital play reads them, from a drive whose reads start a
// random number of samples off: what the synchronizer joins must be the disc's audio.
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "digital/JitteredReader.h"

namespace vantrel {
namespace {

using testing::PlayTrack;
using testing::PositionSample;
using testing::SamplePosition;
using testing::TJitteredDisc;
using testing::TPlayback;
using testing::TPlayedBlock;
using testing::TReadSettings;

// 3000 frames (40 s) starting at frame 20, so that early reads of the first block stay on the disc.
constexpr std::int64_t kStartFrame = 20, kEndFrame = 3020;
constexpr std::size_t kTrackSamples = (kEndFrame - kStartFrame) * 588;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

bool IsMatch(TSyncResult result)
{
    return result == srMatchAfter || result == srMatchBefore;
}

// The index in [from, to) of the first sample that is not the disc's sample at `position`
// counted on from `from`; kNone when all are.
std::size_t FirstBreak(const std::vector<std::uint32_t>& samples, std::int64_t position, std::size_t from,
                       std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (samples[i] != PositionSample(position + static_cast<std::int64_t>(i - from)))
            return i;
    return kNone;
}

// How far the delivered audio was off the disc's positions before `block`: the reader counts
// its position from what it delivered, so the first read's offset, and the offset of any
// block joined without a match, carry over to the reads after it.
std::int64_t Shift(const TPlayback& played, const TPlayedBlock& block)
{
    const std::int64_t counted = kStartFrame * 588 + static_cast<std::int64_t>(block.first);
    return SamplePosition(played.samples[block.first - 1]) + 1 - counted;
}

TEST(SynchronizedRead, JoinsAJitteryTrackSampleForSampleWhileTheOverlapAbsorbsTheJitter)
{
    // The reference is expected (overlaps - compares) frames or more before the nominal skip,
    // so a read that starts up to that much later than the first read did is found; earlier
    // ones up to nearly the rest of the block. Reads off by up to +-jitter differ from the
    // first by up to twice that.
    struct Case {
        TReadSettings settings;
        int jitter;
    };
    const Case cases[] = {
        {{25, 5, 2}, 0}, {{25, 5, 2}, 880}, {{10, 3, 1}, 580}, {{50, 24, 4}, 5000}, {{8, 2, 1}, 290}, {{25, 5, 5}, 0},
    };
    for (const Case& c : cases) {
        const TReadSettings& s = c.settings;
        SCOPED_TRACE(::testing::Message()
                     << s.readAtOnce << '/' << s.overlaps << '/' << s.compares << " jitter " << c.jitter);
        TJitteredDisc disc(c.jitter, 20240 + c.jitter);
        const TPlayback played = PlayTrack(std::ref(disc), kStartFrame, kEndFrame, s);
        ASSERT_FALSE(played.readFailed);
        ASSERT_EQ(played.samples.size(), kTrackSamples);
        ASSERT_GE(played.blocks.size(), 3u);
        EXPECT_EQ(played.blocks.front().result, srNoReference);

        int after = 0, before = 0;
        for (std::size_t b = 1; b + 1 < played.blocks.size(); ++b) {
            after += played.blocks[b].result == srMatchAfter;
            before += played.blocks[b].result == srMatchBefore;
        }
        EXPECT_EQ(after + before, static_cast<int>(played.blocks.size()) - 2);
        if (c.jitter > 0) {
            EXPECT_GT(after, 0);
            EXPECT_GT(before, 0);
        }

        // The first read is taken as it comes: its offset shifts the whole track, and nothing
        // else does.
        const std::int64_t first = kStartFrame * 588 + disc.Offsets().front();
        const TPlayedBlock& last = played.blocks.back();
        EXPECT_EQ(FirstBreak(played.samples, first, 0, last.first), kNone);

        // The last block ends at the track's end frame, so the whole reference is in it only
        // when the read did not start earlier than the new audio left in that block.
        if (IsMatch(last.result)) {
            EXPECT_EQ(FirstBreak(played.samples, first, 0, kTrackSamples), kNone);
        } else {
            EXPECT_EQ(last.result, srNoMatch);
            EXPECT_GT(Shift(played, last) - disc.Offsets().back(), last.count);
        }
    }
}

TEST(SynchronizedRead, ReportsJitterBeyondTheOverlapAndStillNeverRepeatsOrSkipsOnAMatch)
{
    TJitteredDisc disc(4000, 77);
    const TPlayback played = PlayTrack(std::ref(disc), kStartFrame, kEndFrame, TReadSettings{});
    ASSERT_FALSE(played.readFailed);
    ASSERT_EQ(played.samples.size(), kTrackSamples);

    int matched = 0, unmatched = 0;
    for (std::size_t b = 1; b < played.blocks.size(); ++b) {
        const TPlayedBlock& block = played.blocks[b];
        const std::int64_t late = disc.Offsets()[b] - Shift(played, block);
        if (block.result == srNoMatch) {
            ++unmatched;
            // Not found only because the read began after the reference's first sample (or,
            // in the last block, too early for the reference to be whole).
            if (b + 1 < played.blocks.size()) {
                EXPECT_GT(late, 1764) << "block " << b;
            }
            continue;
        }
        ASSERT_TRUE(IsMatch(block.result)) << "block " << b;
        ++matched;
        // Where a block matched, it goes on from the sample before it, with no repeat or gap.
        const std::int64_t previous = SamplePosition(played.samples[block.first - 1]);
        EXPECT_EQ(FirstBreak(played.samples, previous + 1, block.first, block.first + block.count), kNone)
            << "block " << b << ", " << late << " samples late";
    }
    EXPECT_GT(unmatched, 0);
    EXPECT_GT(matched, unmatched);
}

} // namespace
} // namespace vantrel
