#include "digital/Synchronizer.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "digital/JitteredReader.h"

namespace vantrel {
namespace {

using testing::PositionSample;

// `count` samples of the generated disc from position `first` on.
std::vector<std::uint32_t> Samples(std::int64_t first, int count)
{
    std::vector<std::uint32_t> samples(count);
    for (int i = 0; i < count; ++i)
        samples[i] = PositionSample(first + i);
    return samples;
}

struct TCut {
    TSyncResult result;
    int offset;
    int length;
};

TCut Cut(TSynchronizer& synchronizer, const std::vector<std::uint32_t>& block, int skip)
{
    TCut cut{srDisabled, -1, -1};
    cut.result = synchronizer.Process(block.data(), static_cast<int>(block.size()), cut.length, cut.offset, skip);
    EXPECT_EQ(cut.length, static_cast<int>(block.size()) - cut.offset);
    return cut;
}

// With the defaults (25-frame blocks, 5 frames of overlap, 2 compared) a first block covers
// samples 0..14699 and leaves samples 13524..14699 as the reference; the next read is asked
// from sample 11760 with a skip of 2940, so the reference is expected at 1764.
constexpr int kBlock = 14700, kNextRead = 11760, kSkip = 2940;

TEST(Synchronizer, WithoutCompareFramesEveryBlockIsCutAtTheNominalSkip)
{
    TSynchronizer synchronizer;
    EXPECT_TRUE(synchronizer.Setup(0));
    for (const int start : {0, 11760, 11760 + 11760 + 300}) {
        const TCut cut = Cut(synchronizer, Samples(start, kBlock), kSkip);
        EXPECT_EQ(cut.result, srDisabled);
        EXPECT_EQ(cut.offset, kSkip);
    }
    EXPECT_EQ(synchronizer.GetHeld(), 0);

    // A reference that cannot be allocated leaves it disabled as well.
    ASSERT_TRUE(synchronizer.Setup(2));
    EXPECT_FALSE(synchronizer.Setup(-1));
    EXPECT_EQ(synchronizer.GetFrames(), 0);
    EXPECT_EQ(Cut(synchronizer, Samples(0, kBlock), 0).result, srDisabled);
    EXPECT_EQ(Cut(synchronizer, Samples(kNextRead + 5, kBlock), kSkip).offset, kSkip);
}

TEST(Synchronizer, TheFirstBlockAfterSetupOrResetOnlyFillsTheReference)
{
    TSynchronizer synchronizer;
    ASSERT_TRUE(synchronizer.Setup(2));
    TCut cut = Cut(synchronizer, Samples(0, kBlock), 0);
    EXPECT_EQ(cut.result, srNoReference);
    EXPECT_EQ(cut.offset, 0);
    EXPECT_EQ(synchronizer.GetHeld(), 2 * 588);
    EXPECT_EQ(Cut(synchronizer, Samples(kNextRead, kBlock), kSkip).result, srMatchAfter);

    // After Reset even a read that is 100 samples late is cut where it was asked.
    synchronizer.Reset();
    EXPECT_EQ(synchronizer.GetHeld(), 0);
    cut = Cut(synchronizer, Samples(2 * kNextRead + 100, kBlock), kSkip);
    EXPECT_EQ(cut.result, srNoReference);
    EXPECT_EQ(cut.offset, kSkip);

    // A block shorter than the compare frames becomes the whole reference.
    synchronizer.Reset();
    EXPECT_EQ(Cut(synchronizer, Samples(5000, 500), 0).result, srNoReference);
    EXPECT_EQ(synchronizer.GetHeld(), 500);
    const std::vector<std::uint32_t> next = Samples(4700, 2000);
    cut = Cut(synchronizer, next, 800);
    EXPECT_EQ(cut.result, srMatchAfter);
    EXPECT_EQ(next[cut.offset], PositionSample(5500));

    // Setup starts over.
    ASSERT_TRUE(synchronizer.Setup(1));
    EXPECT_EQ(Cut(synchronizer, Samples(0, kBlock), 0).result, srNoReference);
    EXPECT_EQ(synchronizer.GetHeld(), 588);
}

TEST(Synchronizer, FindsWhereTheDriveReallyStarted)
{
    struct Case {
        int late; // samples by which the drive's data starts after the asked address
        TSyncResult result;
        int offset;
    };
    const Case cases[] = {
        {0, srMatchAfter, kSkip},          {3, srMatchBefore, kSkip - 3}, // found at 1761: 3 samples fewer are skipped
        {-3, srMatchAfter, kSkip + 3},                                    // found at 1767: 3 more
        {-700, srMatchAfter, kSkip + 700}, {1764, srMatchBefore, 1176},   // the reference is the block's first samples
        {1765, srNoMatch, kSkip},      // its first sample was not read: the nominal skip
        {-11759, srMatchAfter, 14699}, // the farthest candidate the 11 760 steps reach
        {-11760, srNoMatch, kSkip},    // one more would deliver nothing; it is not tried
    };
    for (const Case& c : cases) {
        TSynchronizer synchronizer;
        ASSERT_TRUE(synchronizer.Setup(2));
        Cut(synchronizer, Samples(0, kBlock), 0);
        const std::vector<std::uint32_t> block = Samples(kNextRead + c.late, kBlock);
        const TCut cut = Cut(synchronizer, block, kSkip);
        EXPECT_EQ(cut.result, c.result) << c.late;
        EXPECT_EQ(cut.offset, c.offset) << c.late;
        if (c.result != srNoMatch) { // the delivered audio continues the previous block exactly
            EXPECT_EQ(block[cut.offset], PositionSample(kBlock)) << c.late;
        }
        // The new block's end is the next reference, matched or not.
        EXPECT_EQ(synchronizer.GetHeld(), 1176);
        const std::vector<std::uint32_t> following = Samples(kNextRead + c.late + kNextRead, kBlock);
        EXPECT_EQ(Cut(synchronizer, following, kSkip).result, srMatchAfter) << c.late;
    }
}

TEST(Synchronizer, SearchesOutwardsTakingTheLaterCandidateAtEqualDistance)
{
    // A one-sample reference X, expected at 9 in a block of 20 with a skip of 10. The search
    // takes max(20 - 10, 9) = 10 steps: candidates 9..18 after, 9..0 before.
    constexpr std::uint32_t kX = 0xABCDEF01;
    struct Case {
        std::vector<int> at; // where X occurs in the block
        TSyncResult result;
        int offset;
    };
    const Case cases[] = {
        {{9}, srMatchAfter, 10}, {{7, 11}, srMatchAfter, 12}, {{7}, srMatchBefore, 8}, {{8, 11}, srMatchBefore, 9},
        {{0}, srMatchBefore, 1}, {{18}, srMatchAfter, 19},    {{19}, srNoMatch, 10},   {{}, srNoMatch, 10},
    };
    for (const Case& c : cases) {
        TSynchronizer synchronizer;
        ASSERT_TRUE(synchronizer.Setup(1));
        ASSERT_EQ(Cut(synchronizer, {kX}, 0).result, srNoReference);
        ASSERT_EQ(synchronizer.GetHeld(), 1);
        std::vector<std::uint32_t> block = Samples(100, 20);
        for (const int at : c.at)
            block[at] = kX;
        const TCut cut = Cut(synchronizer, block, 10);
        EXPECT_EQ(cut.result, c.result) << ::testing::PrintToString(c.at);
        EXPECT_EQ(cut.offset, c.offset) << ::testing::PrintToString(c.at);
    }
}

TEST(Synchronizer, ASkipCoveringTheBlockDeliversAllOfItAndKeepsTheReference)
{
    TSynchronizer synchronizer;
    ASSERT_TRUE(synchronizer.Setup(2));
    Cut(synchronizer, Samples(0, kBlock), 0);
    for (const int skip : {2940, 5000}) {
        const TCut cut = Cut(synchronizer, Samples(50000, 2940), skip);
        EXPECT_EQ(cut.result, srSkipTooLarge) << skip;
        EXPECT_EQ(cut.offset, 0) << skip;
    }
    int length = -1, offset = -1;
    EXPECT_EQ(synchronizer.Process(nullptr, 0, length, offset, 0), srSkipTooLarge);
    EXPECT_EQ(length, 0);
    // Still the first block's end that the next block is matched against.
    EXPECT_EQ(Cut(synchronizer, Samples(kNextRead - 2, kBlock), kSkip).offset, kSkip + 2);
}

TEST(Synchronizer, DigitalSilenceMatchesAtTheNominalSkip)
{
    const std::vector<std::uint32_t> silence(kBlock, 0);
    TSynchronizer synchronizer;
    ASSERT_TRUE(synchronizer.Setup(2));
    Cut(synchronizer, silence, 0);
    for (const int skip : {kSkip, kSkip + 300, 1176}) {
        const TCut cut = Cut(synchronizer, silence, skip);
        EXPECT_EQ(cut.result, srMatchAfter) << skip;
        EXPECT_EQ(cut.offset, skip) << skip;
    }
}

} // namespace
} // namespace vantrel
