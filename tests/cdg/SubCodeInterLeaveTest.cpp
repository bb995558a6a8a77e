#include "cdg/SubCodeInterLeave.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "vdrive/codec/CdgPack.h"

namespace vantrel {
namespace {

using vdrive::CdgPack;

std::vector<std::uint8_t> Flatten(const std::vector<CdgPack>& packs)
{
    std::vector<std::uint8_t> bytes;
    for (const CdgPack& pack : packs)
        bytes.insert(bytes.end(), pack.begin(), pack.end());
    return bytes;
}

CdgPack PackAt(const std::vector<std::uint8_t>& bytes, std::size_t p)
{
    CdgPack pack;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(p * kCdgPackBytes), kCdgPackBytes, pack.begin());
    return pack;
}

// Packs as the disc encoder spreads them, then 7 empty ones to flush the delay line.
TEST(SubCodeInterLeave, GivesBackWhatTheDiscEncoderSpread)
{
    std::mt19937 random(42);
    std::vector<CdgPack> packs(61);
    for (CdgPack& pack : packs) {
        for (std::uint8_t& symbol : pack)
            symbol = static_cast<std::uint8_t>(random() & 0x3F);
        vdrive::EncodeCdgParity(pack.data());
    }
    std::vector<CdgPack> stream = packs;
    stream.resize(packs.size() + 7);
    vdrive::CdgInterleaver interleaver;
    for (CdgPack& pack : stream)
        interleaver.Interleave(pack.data());
    const std::vector<std::uint8_t> onDisc = Flatten(stream);

    // However the stream is cut into runs, and again after a reset.
    TSubCodeInterLeave deinterleave;
    for (const std::size_t run : {std::size_t{1}, std::size_t{4}, std::size_t{17}, stream.size()}) {
        SCOPED_TRACE(run);
        deinterleave.ResetDelayLine();
        std::vector<std::uint8_t> bytes = onDisc;
        for (std::size_t p = 0; p < stream.size(); p += run)
            deinterleave.DeInterleave(bytes.data() + p * kCdgPackBytes, std::min(run, stream.size() - p));
        for (std::size_t p = 0; p < 7; ++p)
            EXPECT_EQ(PackAt(bytes, p), CdgPack{}) << "pack " << p;
        for (std::size_t p = 0; p < packs.size(); ++p)
            EXPECT_EQ(PackAt(bytes, p + 7), packs[p]) << "pack " << p;
    }
}

// Output symbol k = symbol s of the pack d packs old: until d packs have come in since the
// reset, that symbol is a zero from the empty delay line.
TEST(SubCodeInterLeave, FirstPacksAfterAResetHoldZerosWhereTheyReachBeforeIt)
{
    struct From {
        std::size_t s, d;
    };
    constexpr std::array<From, 24> kFrom = {{{0, 7},  {18, 5}, {5, 2},  {23, 0}, {4, 3},  {2, 5},  {6, 1},  {7, 0},
                                             {8, 7},  {9, 6},  {10, 5}, {11, 4}, {12, 3}, {13, 2}, {14, 1}, {15, 0},
                                             {16, 7}, {17, 6}, {1, 6},  {19, 4}, {20, 3}, {21, 2}, {22, 1}, {3, 4}}};
    constexpr std::size_t kPacks = 10;
    // No symbol is 0, so every zero that comes out is the delay line's.
    std::vector<std::uint8_t> in(kPacks * kCdgPackBytes);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::uint8_t>(1 + i % 63);

    TSubCodeInterLeave deinterleave;
    std::vector<std::uint8_t> junk(8 * kCdgPackBytes, 0x2A);
    deinterleave.DeInterleave(junk.data(), 8);
    deinterleave.ResetDelayLine();
    std::vector<std::uint8_t> out = in;
    deinterleave.DeInterleave(out.data(), kPacks);
    for (std::size_t j = 0; j < kPacks; ++j)
        for (std::size_t k = 0; k < kCdgPackBytes; ++k) {
            const From from = kFrom[k];
            const std::uint8_t expected = j < from.d ? 0 : in[(j - from.d) * kCdgPackBytes + from.s];
            EXPECT_EQ(out[j * kCdgPackBytes + k], expected) << "pack " << j << " symbol " << k;
        }
}

} // namespace
} // namespace vantrel
