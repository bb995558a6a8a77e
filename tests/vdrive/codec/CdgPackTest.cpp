#include "vdrive/codec/CdgPack.h"

#include <array>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace vantrel::vdrive {
namespace {

// GF(64) as a reader's correction builds it: exp[0] = 1, each next entry doubled and, when
// bit 6 comes up, XORed with 0x43 (x^6 + x + 1); log[exp[j]] = j for j < 63.
struct Field {
    std::array<std::uint8_t, 134> exp{};
    std::array<std::uint8_t, 64> log{};
    Field()
    {
        exp[0] = 1;
        for (int j = 1; j < 134; ++j) {
            int v = exp[j - 1] * 2;
            if (v & 0x40)
                v ^= 0x43;
            exp[j] = static_cast<std::uint8_t>(v);
        }
        for (int j = 0; j < 63; ++j)
            log[exp[j]] = static_cast<std::uint8_t>(j);
    }
    // alpha^power * v
    std::uint8_t Times(int power, std::uint8_t v) const { return v == 0 ? 0 : exp[(power + log[v]) % 63]; }
};
const Field kField;

// The Q check over symbols 0..3: S0 = s0+s1+s2+s3, S1 = a^3 s0 + a^2 s1 + a s2 + s3.
std::array<std::uint8_t, 2> QSyndromes(const CdgPack& pack)
{
    std::array<std::uint8_t, 2> s{};
    for (int i = 0; i < 4; ++i) {
        const auto v = static_cast<std::uint8_t>(pack[i] & 0x3F);
        s[0] ^= v;
        s[1] ^= kField.Times(3 - i, v);
    }
    return s;
}

// The P check over all 24 symbols with weight w(i) = 23 - i: S_j = sum a^(j w(i)) s_i.
std::array<std::uint8_t, 4> PSyndromes(const CdgPack& pack)
{
    std::array<std::uint8_t, 4> s{};
    for (int i = 0; i < 24; ++i)
        for (int j = 0; j < 4; ++j)
            s[j] ^= kField.Times(j * (23 - i), static_cast<std::uint8_t>(pack[i] & 0x3F));
    return s;
}

// The P correction's search: the first i with S_j = a^(j w(i)) S0 for j = 1..3 is the bad
// symbol, and s_i + S0 its right value. -1 when none fits.
int FindPError(const std::array<std::uint8_t, 4>& s)
{
    if (s[0] == 0)
        return -1;
    for (int i = 0; i < 24; ++i) {
        const int w = 23 - i;
        if (s[1] == kField.Times(w, s[0]) && s[2] == kField.Times(2 * w, s[0]) && s[3] == kField.Times(3 * w, s[0]))
            return i;
    }
    return -1;
}

CdgPack RandomPack(std::mt19937& random)
{
    CdgPack pack{};
    for (auto& symbol : pack)
        symbol = static_cast<std::uint8_t>(random() & 0x3F);
    return pack;
}

TEST(CdgParity, QParityOfAMemoryPresetHeaderMatchesHandComputation)
{
    // s0 = 9, s1 = 1: s2 + s3 = 8 and a s2 + s3 = a^3*9 + a^2 = 0x0B ^ 0x04, so
    // (a + 1) s2 = 7, s2 = 0x3C, s3 = 0x34.
    CdgPack pack{9, 1};
    EncodeCdgParity(pack.data());
    EXPECT_EQ(pack[2], 0x3C);
    EXPECT_EQ(pack[3], 0x34);
}

TEST(CdgParity, EncodedPacksPassBothChecksAndKeepTheirData)
{
    std::mt19937 random(1);
    for (int n = 0; n < 500; ++n) {
        CdgPack pack = RandomPack(random);
        if (n % 2)
            for (int i : {0, 1, 4, 11, 19})
                pack[i] |= 0xC0; // P and Q bits left in: only the six low bits count
        const CdgPack before = pack;
        EncodeCdgParity(pack.data());
        ASSERT_EQ(QSyndromes(pack), (std::array<std::uint8_t, 2>{})) << n;
        ASSERT_EQ(PSyndromes(pack), (std::array<std::uint8_t, 4>{})) << n;
        for (int i : {0, 1, 4, 5, 10, 19})
            ASSERT_EQ(pack[i], before[i]) << n;
        for (int i : {2, 3, 20, 21, 22, 23})
            ASSERT_EQ(pack[i] & 0xC0, 0) << n;
    }
    CdgPack zero{};
    EncodeCdgParity(zero.data());
    EXPECT_EQ(zero, CdgPack{});
}

TEST(CdgParity, OneWrongSymbolIsLocatedAndRepairedByTheChecks)
{
    std::mt19937 random(2);
    for (int n = 0; n < 40; ++n) {
        CdgPack good = RandomPack(random);
        EncodeCdgParity(good.data());
        for (int i = 0; i < 24; ++i) {
            const auto error = static_cast<std::uint8_t>(1 + random() % 63);
            CdgPack bad = good;
            bad[i] ^= error;
            const auto p = PSyndromes(bad);
            ASSERT_EQ(FindPError(p), i) << n;
            EXPECT_EQ(bad[i] ^ p[0], good[i]);
            if (i < 4) {
                // The Q check names the symbol too: S1 = a^(3-i) S0.
                const auto q = QSyndromes(bad);
                EXPECT_EQ(q[0], error);
                EXPECT_EQ(q[1], kField.Times(3 - i, q[0]));
            } else {
                EXPECT_EQ(QSyndromes(bad), (std::array<std::uint8_t, 2>{}));
            }
        }
    }
}

TEST(CdgParity, TheDriveRepairsOneWrongSymbolAndLeavesTwo)
{
    std::mt19937 random(3);
    for (int n = 0; n < 10; ++n) {
        CdgPack good = RandomPack(random);
        EncodeCdgParity(good.data());
        good[7] |= 0x80; // a P bit, which the correction must keep
        CdgPack same = good;
        EXPECT_TRUE(CorrectCdgPack(same.data()));
        EXPECT_EQ(same, good);
        for (int i = 0; i < 24; ++i) {
            CdgPack bad = good;
            bad[i] ^= static_cast<std::uint8_t>(1 + random() % 63);
            EXPECT_FALSE(CdgParityHolds(bad.data()));
            EXPECT_TRUE(CorrectCdgPack(bad.data())) << n << " " << i;
            EXPECT_EQ(bad, good) << n << " " << i;
            // A second wrong symbol: no single change explains both, and nothing is touched.
            bad[i] ^= static_cast<std::uint8_t>(1 + random() % 63);
            bad[(i + 5) % 24] ^= static_cast<std::uint8_t>(1 + random() % 63);
            const CdgPack twice = bad;
            if (!CdgParityHolds(bad.data())) {
                EXPECT_FALSE(CorrectCdgPack(bad.data())) << n << " " << i;
                EXPECT_EQ(bad, twice);
            }
        }
    }
}

// The reader's de-interleaving delay line, written from its table: output symbol k is
// symbol s of the pack d packs old (slot 0 the newest).
class TableDeinterleaver {
public:
    CdgPack Next(const CdgPack& in)
    {
        static constexpr int kTable[24][2] = {{0, 7},  {18, 5}, {5, 2},  {23, 0}, {4, 3},  {2, 5},  {6, 1},  {7, 0},
                                              {8, 7},  {9, 6},  {10, 5}, {11, 4}, {12, 3}, {13, 2}, {14, 1}, {15, 0},
                                              {16, 7}, {17, 6}, {1, 6},  {19, 4}, {20, 3}, {21, 2}, {22, 1}, {3, 4}};
        slots_.insert(slots_.begin(), in);
        slots_.resize(8);
        CdgPack out{};
        for (int k = 0; k < 24; ++k)
            out[k] = slots_[kTable[k][1]][kTable[k][0]];
        return out;
    }

private:
    std::vector<CdgPack> slots_ = std::vector<CdgPack>(8);
};

TEST(CdgInterleaver, SymbolPositionSLeavesSModulo8PacksLate)
{
    // Pack t filled with t + 1: position s of output pack u comes from pack u - s % 8.
    CdgInterleaver interleaver;
    for (int u = 0; u < 10; ++u) {
        CdgPack pack;
        pack.fill(static_cast<std::uint8_t>(u + 1));
        interleaver.Interleave(pack.data());
        for (int s = 0; s < 24; ++s)
            ASSERT_EQ(pack[s], std::max(0, u - s % 8 + 1)) << u << " " << s;
    }
}

TEST(CdgInterleaver, ReaderDelayLineGivesBackEveryPackSevenPacksLater)
{
    std::mt19937 random(3);
    constexpr std::size_t kPacks = 400, kDelay = CdgInterleaver::kDelayPacks;
    static_assert(kDelay == 7);
    std::vector<CdgPack> in(kPacks);
    for (auto& pack : in) {
        pack = RandomPack(random);
        EncodeCdgParity(pack.data());
    }
    // The stream: the packs, then empty packs to push the last ones through.
    std::vector<CdgPack> stream = in;
    stream.resize(kPacks + kDelay);

    CdgInterleaver interleaver;
    TableDeinterleaver reader;
    CdgDeinterleaver drive;
    for (std::size_t t = 0; t < stream.size(); ++t) {
        CdgPack onDisc = stream[t];
        interleaver.Interleave(onDisc.data());
        const CdgPack out = reader.Next(onDisc);
        ASSERT_EQ(out, t < kDelay ? CdgPack{} : in[t - kDelay]) << t;
        CdgPack same = onDisc;
        drive.Deinterleave(same.data());
        ASSERT_EQ(same, out) << t;
    }

    // Reset starts a new stream; the batch call is the same as pack by pack.
    interleaver.Reset();
    drive.Reset();
    std::vector<std::uint8_t> flat(stream.size() * kCdgPackSymbols);
    for (std::size_t t = 0; t < stream.size(); ++t)
        std::copy(stream[t].begin(), stream[t].end(), flat.begin() + t * kCdgPackSymbols);
    interleaver.Interleave(flat.data(), stream.size());
    drive.Deinterleave(flat.data(), stream.size());
    for (std::size_t t = 0; t < stream.size(); ++t) {
        const CdgPack expected = t < kDelay ? CdgPack{} : in[t - kDelay];
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), flat.begin() + t * kCdgPackSymbols)) << t;
    }
}

TEST(CdgPackBuilder, InstructionPacksCarryTheirFieldsAndValidParity)
{
    using Data = std::array<std::uint8_t, 16>;
    const CdgPacks::TileRows rows = {0x3F, 0x21, 0x12, 0x0C, 0x00, 0x3F, 0x01, 0x20, 0x15, 0x2A, 0x3F, 0x00};
    const std::array<CdgColour, 8> low = {
        CdgColour{15, 15, 15}, {1, 2, 3}, {8, 4, 2}, {0, 0, 0}, {15, 0, 0}, {0, 15, 0}, {0, 0, 15}, {5, 10, 5}};
    const std::array<CdgColour, 8> high = {CdgColour{16, 17, 18}}; // masked to 0, 1, 2
    struct Case {
        const char* name;
        CdgPack pack;
        std::uint8_t command, instruction;
        Data data;
    };
    const Case cases[] = {
        {"memory preset", CdgPacks::MemoryPreset(5), 9, 1, {5, 0}},
        {"memory preset repeat", CdgPacks::MemoryPreset(5, 3), 9, 1, {5, 3}},
        {"border preset", CdgPacks::BorderPreset(0x1C), 9, 2, {0x0C}},
        {"tile",
         CdgPacks::TileBlock(2, 7, 17, 49, rows),
         9,
         6,
         {2, 7, 17, 49, 0x3F, 0x21, 0x12, 0x0C, 0x00, 0x3F, 0x01, 0x20, 0x15, 0x2A, 0x3F, 0x00}},
        {"tile xor off screen",
         CdgPacks::TileBlockXor(0, 0, 18, 50, rows),
         9,
         38,
         {0, 0, 18, 50, 0x3F, 0x21, 0x12, 0x0C, 0x00, 0x3F, 0x01, 0x20, 0x15, 0x2A, 0x3F, 0x00}},
        {"scroll preset", CdgPacks::ScrollPreset(3, CdgHScroll::Left, 7, CdgVScroll::Up, 15), 9, 20, {3, 0x27, 0x2F}},
        {"scroll copy", CdgPacks::ScrollCopy(CdgHScroll::Right, 2, CdgVScroll::Down, 11), 9, 24, {0, 0x12, 0x1B}},
        {"scroll offsets only", CdgPacks::ScrollCopy(CdgHScroll::None, 5, CdgVScroll::None, 3), 9, 24, {0, 5, 3}},
        // Entry (r, g, b) -> r << 2 | g >> 2, (g & 3) << 4 | b.
        {"clut low",
         CdgPacks::LoadClutLow(low),
         9,
         30,
         {0x3F, 0x3F, 0x04, 0x23, 0x21, 0x02, 0, 0, 0x3C, 0x00, 0x03, 0x30, 0x00, 0x0F, 0x16, 0x25}},
        {"clut high", CdgPacks::LoadClutHigh(high), 9, 31, {0x00, 0x12}},
        {"transparent", CdgPacks::DefineTransparent(4), 9, 28, {4}},
        {"unknown", CdgPacks::Make(0x47, 0x3F, Data{0x40, 0x3F}), 7, 0x3F, {0, 0x3F}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.pack[0], c.command) << c.name;
        EXPECT_EQ(c.pack[1], c.instruction) << c.name;
        EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), c.pack.begin() + 4)) << c.name;
        EXPECT_EQ(QSyndromes(c.pack), (std::array<std::uint8_t, 2>{})) << c.name;
        EXPECT_EQ(PSyndromes(c.pack), (std::array<std::uint8_t, 4>{})) << c.name;
        for (const auto symbol : c.pack)
            EXPECT_EQ(symbol & 0xC0, 0) << c.name;
    }
    EXPECT_EQ(CdgPacks::Empty(), CdgPack{});
}

} // namespace
} // namespace vantrel::vdrive
