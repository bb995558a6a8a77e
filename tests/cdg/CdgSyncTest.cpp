#include "cdg/CdgSync.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdg/CdgBuffer.h"

namespace vantrel {
namespace {

// packs packs of a read run, from an endless stream in which pack p is unlike every other:
// symbols 0-1 carry p, the rest a pattern of it.
std::vector<std::uint8_t> Packs(std::uint32_t firstPack, std::uint32_t packs)
{
    std::vector<std::uint8_t> bytes(std::size_t{packs} * kCdgPackBytes);
    for (std::uint32_t i = 0; i < packs; ++i) {
        const std::uint32_t p = firstPack + i;
        std::uint8_t* pack = bytes.data() + std::size_t{i} * kCdgPackBytes;
        pack[0] = static_cast<std::uint8_t>(p & 0x3F);
        pack[1] = static_cast<std::uint8_t>(p >> 6 & 0x3F);
        for (std::size_t k = 2; k < kCdgPackBytes; ++k)
            pack[k] = static_cast<std::uint8_t>((p * 7 + k) & 0x3F);
    }
    return bytes;
}

struct Outcome {
    TCdgSyncResult code;
    std::uint32_t start, count;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << "code " << int(o.code) << ", start " << o.start << ", count " << o.count;
}

// before: packs at the start of the buffer that precede the run and are not part of it.
Outcome Sync(TCdgSync& sync, const std::vector<std::uint8_t>& run, std::uint32_t offset, std::uint32_t before = 0)
{
    Outcome o{};
    const auto count = static_cast<std::uint32_t>(run.size() / kCdgPackBytes) - before;
    o.code = sync.Sync(run.data() + std::size_t{before} * kCdgPackBytes, count, o.count, o.start, offset);
    return o;
}

// Runs of 10 sectors (40 packs) holding the last 2 sectors (8 packs). The first run is
// stream packs 100..139, so the held tail is 132..139 and, after a run whose first
// `offset` packs repeat, it is expected to begin at offset - 8. The second run lies in a
// buffer after the 8 stream packs that precede it, where no search may look.
TEST(CdgSync, FindsTheHeldTailAroundItsExpectedPlace)
{
    const struct {
        std::string what;
        std::uint8_t step;
        std::uint32_t first, offset; // the second run: its first stream pack, its offset
        Outcome outcome;
    } cases[] = {
        {"read exactly where asked", 4, 132, 8, {csFoundForward, 8, 32}},
        {"tail 8 packs after its place", 4, 124, 8, {csFoundForward, 16, 24}},
        {"tail 8 packs before its place", 4, 132, 16, {csFoundBackward, 8, 32}},
        {"tail 4 packs before its place", 4, 128, 16, {csFoundBackward, 12, 28}},
        {"tail at the very end", 4, 108, 8, {csFoundForward, 32, 8}},
        {"tail between two steps", 4, 130, 8, {csNotFound, 8, 32}},
        {"tail between steps, step 1", 1, 130, 8, {csFoundForward, 10, 30}},
        {"step 0 is taken as 1", 0, 130, 8, {csFoundForward, 10, 30}},
        {"tail partly before the run", 4, 136, 4, {csNotFound, 4, 36}},
        {"expected place before the run, tail inside", 4, 132, 4, {csFoundForward, 8, 32}},
        {"tail nowhere", 4, 1000, 8, {csNotFound, 8, 32}},
        {"offset covers the run", 4, 132, 40, {csOffsetTooLarge, 0, 40}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TCdgSync sync;
        ASSERT_TRUE(sync.Init(2));
        sync.SetStep(c.step);
        EXPECT_EQ(Sync(sync, Packs(100, 40), 0), (Outcome{csNothingHeld, 0, 40}));
        EXPECT_EQ(Sync(sync, Packs(c.first - 8, 48), c.offset, 8), c.outcome);
    }
}

TEST(CdgSync, TailFollowsEveryRunButOneThatIsAllRepeat)
{
    TCdgSync sync;
    ASSERT_TRUE(sync.Init(2));
    EXPECT_EQ(Sync(sync, Packs(0, 40), 0).code, csNothingHeld);
    EXPECT_EQ(sync.Held(), 8u);
    // All repeat: handed over whole, and the tail stays that of the run before.
    EXPECT_EQ(Sync(sync, Packs(500, 8), 8), (Outcome{csOffsetTooLarge, 0, 8}));
    EXPECT_EQ(Sync(sync, Packs(32, 12), 8), (Outcome{csFoundForward, 8, 4}));
    EXPECT_EQ(sync.Held(), 8u);
    // A run shorter than the capacity is held whole: packs 40..43.
    EXPECT_EQ(Sync(sync, Packs(40, 4), 0), (Outcome{csNotFound, 0, 4}));
    EXPECT_EQ(sync.Held(), 4u);
    EXPECT_EQ(Sync(sync, Packs(40, 40), 4), (Outcome{csFoundForward, 4, 36}));

    sync.ForgetTail();
    EXPECT_EQ(Sync(sync, Packs(72, 40), 8), (Outcome{csNothingHeld, 8, 32}));
}

TEST(CdgSync, CapacityZeroOrNoTailCutsAtTheOffset)
{
    TCdgSync sync;
    EXPECT_EQ(Sync(sync, Packs(0, 40), 8), (Outcome{csOff, 8, 32})); // never set up
    ASSERT_TRUE(sync.Init(2));
    Sync(sync, Packs(0, 40), 0);
    ASSERT_TRUE(sync.Init(0));
    EXPECT_EQ(Sync(sync, Packs(32, 40), 8), (Outcome{csOff, 8, 32}));
    EXPECT_EQ(Sync(sync, Packs(32, 40), 40), (Outcome{csOffsetTooLarge, 0, 40}));
}

} // namespace
} // namespace vantrel
