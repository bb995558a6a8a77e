#include "cdg/SubCodeErrorCorrect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vdrive/codec/CdgPack.h"

namespace vantrel {
namespace {

using vdrive::CdgPack;
using Errors = std::vector<std::pair<int, std::uint8_t>>; // (symbol, value XORed into it)

// A pack with random command, instruction and data, and parity from the disc encoder.
CdgPack ValidPack(std::uint32_t seed)
{
    std::mt19937 random(seed);
    CdgPack pack{};
    for (std::uint8_t& symbol : pack)
        symbol = static_cast<std::uint8_t>(random() & 0x3F);
    vdrive::EncodeCdgParity(pack.data());
    return pack;
}

CdgPack Spoil(CdgPack pack, const Errors& errors)
{
    for (const auto& [symbol, value] : errors)
        pack[static_cast<std::size_t>(symbol)] ^= value;
    return pack;
}

struct Case {
    std::string what;
    bool zero;   // start from the all-zero pack instead of a random one
    Errors errors;
    bool withP;  // CorrectP first (as the player does), else CorrectQ alone
    bool p, q;   // what the corrections report
    Errors left; // the errors still in the pack afterwards
};

std::vector<Case> Cases()
{
    std::vector<Case> cases = {
        {"all-zero pack", true, {}, true, true, true, {}},
        {"two wrong symbols outside Q's reach", false, {{5, 0x15}, {12, 0x2A}}, true, false, true, {{5, 0x15}, {12, 0x2A}}},
        {"two wrong symbols, P and Q parity", false, {{20, 0x01}, {23, 0x3F}}, true, false, true, {{20, 0x01}, {23, 0x3F}}},
        // P gives up; Q sees symbol 1 alone wrong among 0-3 and repairs it.
        {"two wrong symbols, one for Q", false, {{1, 0x15}, {17, 0x3F}}, true, false, true, {{17, 0x3F}}},
        // Equal errors in symbols 0 and 1: S0 = 0 but S1 is not.
        {"two equal errors in Q", false, {{0, 0x15}, {1, 0x15}}, true, false, false, {{0, 0x15}, {1, 0x15}}},
        // Errors 1 and 2 in symbols 0 and 1: S0 = 3, S1 = a^3 + a^2 * 2 = 0, no single symbol.
        {"two errors in Q fitting no symbol", false, {{0, 0x01}, {1, 0x02}}, true, false, false, {{0, 0x01}, {1, 0x02}}},
        {"a wrong data symbol is not Q's", false, {{9, 0x33}}, false, true, true, {{9, 0x33}}},
    };
    for (int i = 0; i < 24; ++i) {
        const auto value = static_cast<std::uint8_t>(1 + (i * 11) % 63);
        cases.push_back({"one wrong symbol " + std::to_string(i), false, {{i, value}}, true, true, true, {}});
    }
    for (int i = 0; i < 4; ++i)
        cases.push_back({"Q alone, symbol " + std::to_string(i), false, {{i, 0x2D}}, false, true, true, {}});
    return cases;
}

TEST(SubCodeErrorCorrect, RepairsOneWrongSymbolAndLeavesWhatItCannotExplain)
{
    const TSubCodeErrorCorrect correct;
    std::uint32_t seed = 1;
    for (const Case& c : Cases()) {
        const CdgPack good = c.zero ? CdgPack{} : ValidPack(seed++);
        // Each case once as masked packs, once with P and Q in bits 7..6, which stay as they are.
        for (const std::uint8_t top : {0x00, 0xC0, 0x40}) {
            SCOPED_TRACE(c.what + ", bits 7..6 = " + std::to_string(top >> 6));
            CdgPack pack = Spoil(good, c.errors), expected = Spoil(good, c.left);
            for (std::size_t k = 0; k < pack.size(); ++k) {
                const auto mark = static_cast<std::uint8_t>(k % 3 == 0 ? top : 0);
                pack[k] |= mark;
                expected[k] |= mark;
            }
            if (c.withP) {
                EXPECT_EQ(correct.CorrectP(pack.data()), c.p);
            }
            EXPECT_EQ(correct.CorrectQ(pack.data()), c.q);
            EXPECT_EQ(pack, expected);
        }
    }
}

// The tables outlive every instance but the last, copies included, and instances may come
// and go on several threads at once.
TEST(SubCodeErrorCorrect, TablesLiveWhileAnyInstanceDoes)
{
    ASSERT_FALSE(TSubCodeErrorCorrect::TablesBuilt());
    const CdgPack good = ValidPack(7);
    const CdgPack bad = Spoil(good, {{6, 0x21}});
    {
        auto first = std::make_unique<TSubCodeErrorCorrect>();
        const TSubCodeErrorCorrect copy = *first;
        first.reset();
        EXPECT_TRUE(TSubCodeErrorCorrect::TablesBuilt());
        CdgPack pack = bad;
        EXPECT_TRUE(copy.CorrectP(pack.data()));
        EXPECT_EQ(pack, good);
    }
    EXPECT_FALSE(TSubCodeErrorCorrect::TablesBuilt());

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                const TSubCodeErrorCorrect correct;
                CdgPack pack = bad;
                if (!correct.CorrectP(pack.data()) || pack != good)
                    ++failures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_FALSE(TSubCodeErrorCorrect::TablesBuilt());
}

} // namespace
} // namespace vantrel
