#include "vdrive/codec/CdgPack.h"

#include <algorithm>
#include <cstring>

namespace vantrel::vdrive {
namespace {

// GF(64) with x^6 + x + 1: exponent table of period 63 (doubled so a sum of two logarithms
// needs no reduction) and logarithm table.
struct GaloisTables {
    std::array<std::uint8_t, 126> exp{};
    std::array<std::uint8_t, 64> log{};
};

constexpr GaloisTables MakeGaloisTables()
{
    GaloisTables t;
    unsigned value = 1;
    for (unsigned j = 0; j < 126; ++j) {
        t.exp[j] = static_cast<std::uint8_t>(value);
        if (j < 63)
            t.log[value] = static_cast<std::uint8_t>(j);
        value <<= 1;
        if (value & 0x40)
            value ^= 0x43;
    }
    return t;
}

constexpr GaloisTables kGf = MakeGaloisTables();

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b)
{
    return a == 0 || b == 0 ? 0 : kGf.exp[kGf.log[a] + kGf.log[b]];
}

// The generator (x + 1)(x + a)...(x + a^(N-1)) as coefficients of x^0..x^(N-1); x^N is 1.
template <std::size_t N> constexpr std::array<std::uint8_t, N> Generator()
{
    std::array<std::uint8_t, N + 1> g{};
    g[0] = 1;
    for (std::size_t root = 0; root < N; ++root) {
        // multiply by (x + a^root)
        for (std::size_t k = root + 1; k > 0; --k)
            g[k] = static_cast<std::uint8_t>(g[k - 1] ^ Mul(g[k], kGf.exp[root]));
        g[0] = Mul(g[0], kGf.exp[root]);
    }
    std::array<std::uint8_t, N> low{};
    std::copy_n(g.begin(), N, low.begin());
    return low;
}

constexpr auto kQGenerator = Generator<2>();
constexpr auto kPGenerator = Generator<4>();

// Systematic encoding: the remainder of data(x) * x^N divided by the generator, where data
// symbol 0 is the highest power. parity[0] goes right after the data (power N-1).
template <std::size_t N>
void Remainder(const std::uint8_t* data, std::size_t n, const std::array<std::uint8_t, N>& g, std::uint8_t* parity)
{
    std::array<std::uint8_t, N> reg{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t feedback = static_cast<std::uint8_t>((data[i] & 0x3F) ^ reg[0]);
        for (std::size_t j = 0; j + 1 < N; ++j)
            reg[j] = static_cast<std::uint8_t>(reg[j + 1] ^ Mul(feedback, g[N - 1 - j]));
        reg[N - 1] = Mul(feedback, g[0]);
    }
    std::copy(reg.begin(), reg.end(), parity);
}

// Where the de-interleaver takes output symbol k from: symbol kSource[k] of the pack
// kDelay[k] packs old. The exchanges 1<->18, 2<->5, 3<->23 send the four symbols of the Q
// check in four different packs; the delay follows the symbol's position on the disc, 7 - s % 8.
constexpr std::array<std::uint8_t, kCdgPackSymbols> kSource = {0,  18, 5,  23, 4,  2,  6, 7,  8,  9,  10, 11,
                                                               12, 13, 14, 15, 16, 17, 1, 19, 20, 21, 22, 3};
constexpr std::array<std::uint8_t, kCdgPackSymbols> MakeDelays()
{
    std::array<std::uint8_t, kCdgPackSymbols> d{};
    for (std::size_t k = 0; k < kCdgPackSymbols; ++k)
        d[k] = static_cast<std::uint8_t>(7 - kSource[k] % 8);
    return d;
}
constexpr auto kDelay = MakeDelays();

void Push(std::array<CdgPack, 8>& history, const std::uint8_t pack[kCdgPackSymbols])
{
    std::move_backward(history.begin(), history.end() - 1, history.end());
    std::memcpy(history[0].data(), pack, kCdgPackSymbols);
}

} // namespace

void EncodeCdgParity(std::uint8_t pack[kCdgPackSymbols])
{
    Remainder(pack, 2, kQGenerator, pack + 2);
    Remainder(pack, 20, kPGenerator, pack + 20);
}

bool CdgParityHolds(const std::uint8_t pack[kCdgPackSymbols])
{
    CdgPack copy;
    for (std::size_t i = 0; i < kCdgPackSymbols; ++i)
        copy[i] = static_cast<std::uint8_t>(pack[i] & 0x3F);
    CdgPack encoded = copy;
    EncodeCdgParity(encoded.data());
    return encoded == copy;
}

bool CorrectCdgPack(std::uint8_t pack[kCdgPackSymbols])
{
    if (CdgParityHolds(pack))
        return true;
    for (std::size_t i = 0; i < kCdgPackSymbols; ++i) {
        const std::uint8_t kept = pack[i];
        for (std::uint8_t value = 0; value < 64; ++value) {
            if (value == (kept & 0x3F))
                continue;
            pack[i] = static_cast<std::uint8_t>((kept & 0xC0) | value);
            if (CdgParityHolds(pack))
                return true;
        }
        pack[i] = kept;
    }
    return false;
}

void CdgInterleaver::Reset()
{
    history_ = {};
}

void CdgInterleaver::Interleave(std::uint8_t pack[kCdgPackSymbols])
{
    Push(history_, pack);
    // Symbol k must reach the de-interleaver's output 7 packs after its pack came in, and the
    // de-interleaver holds it back kDelay[k] packs: so it leaves here 7 - kDelay[k] packs late.
    for (std::size_t k = 0; k < kCdgPackSymbols; ++k)
        pack[kSource[k]] = history_[7 - kDelay[k]][k];
}

void CdgInterleaver::Interleave(std::uint8_t* packs, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        Interleave(packs + i * kCdgPackSymbols);
}

void CdgDeinterleaver::Reset()
{
    history_ = {};
}

void CdgDeinterleaver::Deinterleave(std::uint8_t pack[kCdgPackSymbols])
{
    Push(history_, pack);
    for (std::size_t k = 0; k < kCdgPackSymbols; ++k)
        pack[k] = history_[kDelay[k]][kSource[k]];
}

void CdgDeinterleaver::Deinterleave(std::uint8_t* packs, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        Deinterleave(packs + i * kCdgPackSymbols);
}

namespace CdgPacks {
namespace {

using Data = std::array<std::uint8_t, kCdgDataSymbols>;

std::uint8_t Nibble(std::uint8_t v)
{
    return static_cast<std::uint8_t>(v & 0x0F);
}

CdgPack Graphics(std::uint8_t instruction, const Data& data)
{
    return Make(kGraphicsCommand, instruction, data);
}

CdgPack Tile(std::uint8_t instruction, std::uint8_t colour0, std::uint8_t colour1, std::uint8_t row,
             std::uint8_t column, const TileRows& rows)
{
    Data d{Nibble(colour0), Nibble(colour1), static_cast<std::uint8_t>(row & 0x1F),
           static_cast<std::uint8_t>(column & 0x3F)};
    std::copy(rows.begin(), rows.end(), d.begin() + 4);
    return Graphics(instruction, d);
}

CdgPack Scroll(std::uint8_t instruction, std::uint8_t colour, CdgHScroll h, std::uint8_t hOffset, CdgVScroll v,
               std::uint8_t vOffset)
{
    return Graphics(instruction,
                    Data{Nibble(colour), static_cast<std::uint8_t>((static_cast<unsigned>(h) & 3) << 4 | (hOffset & 7)),
                         static_cast<std::uint8_t>((static_cast<unsigned>(v) & 3) << 4 | (vOffset & 0x0F))});
}

CdgPack Clut(std::uint8_t instruction, const std::array<CdgColour, 8>& entries)
{
    Data d{};
    for (std::size_t j = 0; j < entries.size(); ++j) {
        const unsigned red = Nibble(entries[j].red), green = Nibble(entries[j].green), blue = Nibble(entries[j].blue);
        d[2 * j] = static_cast<std::uint8_t>(red << 2 | green >> 2);
        d[2 * j + 1] = static_cast<std::uint8_t>((green & 3) << 4 | blue);
    }
    return Graphics(instruction, d);
}

} // namespace

CdgPack Make(std::uint8_t command, std::uint8_t instruction, const Data& data)
{
    CdgPack pack{};
    pack[0] = static_cast<std::uint8_t>(command & 0x3F);
    pack[1] = static_cast<std::uint8_t>(instruction & 0x3F);
    for (std::size_t i = 0; i < kCdgDataSymbols; ++i)
        pack[4 + i] = static_cast<std::uint8_t>(data[i] & 0x3F);
    EncodeCdgParity(pack.data());
    return pack;
}

CdgPack Empty()
{
    return CdgPack{};
}

CdgPack MemoryPreset(std::uint8_t colour, std::uint8_t repeat)
{
    return Graphics(kMemoryPreset, Data{Nibble(colour), Nibble(repeat)});
}

CdgPack BorderPreset(std::uint8_t colour)
{
    return Graphics(kBorderPreset, Data{Nibble(colour)});
}

CdgPack TileBlock(std::uint8_t colour0, std::uint8_t colour1, std::uint8_t row, std::uint8_t column,
                  const TileRows& rows)
{
    return Tile(kTileBlock, colour0, colour1, row, column, rows);
}

CdgPack TileBlockXor(std::uint8_t colour0, std::uint8_t colour1, std::uint8_t row, std::uint8_t column,
                     const TileRows& rows)
{
    return Tile(kTileBlockXor, colour0, colour1, row, column, rows);
}

CdgPack ScrollPreset(std::uint8_t colour, CdgHScroll h, std::uint8_t hOffset, CdgVScroll v, std::uint8_t vOffset)
{
    return Scroll(kScrollPreset, colour, h, hOffset, v, vOffset);
}

CdgPack ScrollCopy(CdgHScroll h, std::uint8_t hOffset, CdgVScroll v, std::uint8_t vOffset)
{
    return Scroll(kScrollCopy, 0, h, hOffset, v, vOffset);
}

CdgPack LoadClutLow(const std::array<CdgColour, 8>& entries)
{
    return Clut(kLoadClutLow, entries);
}

CdgPack LoadClutHigh(const std::array<CdgColour, 8>& entries)
{
    return Clut(kLoadClutHigh, entries);
}

CdgPack DefineTransparent(std::uint8_t colour)
{
    return Graphics(kDefineTransparent, Data{Nibble(colour)});
}

} // namespace CdgPacks

} // namespace vantrel::vdrive
