// CD+G packs as a disc carries them in sub-channels R-W: the two Reed-Solomon parities of a
// pack, the interleaving of packs across the sub-channel stream (and its inverse), and a
// builder of graphics instruction packs for the test-disc generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantrel::vdrive {

// A pack: 24 six-bit symbols, one per byte (bits 7..6 zero). Symbol 0 is the command, 1 the
// instruction, 2-3 the Q parity, 4-19 the data symbols d0..d15, 20-23 the P parity.
inline constexpr std::size_t kCdgPackSymbols = 24, kCdgDataSymbols = 16;
using CdgPack = std::array<std::uint8_t, kCdgPackSymbols>;

// Fills symbols 2-3 and 20-23 over GF(64) (x^6 + x + 1, alpha = 2) so that
//   Q: s0+s1+s2+s3 = 0 and a^3 s0 + a^2 s1 + a s2 + s3 = 0, and
//   P: sum over i of a^(j*(23-i)) s_i = 0 for j = 0..3 (all 24 symbols, Q parity included).
// Only bits 5..0 of the other symbols count; they are left as they are.
void EncodeCdgParity(std::uint8_t pack[kCdgPackSymbols]);

// Whether both parities of the pack hold.
bool CdgParityHolds(const std::uint8_t pack[kCdgPackSymbols]);
// What a drive does to R-W before it hands them out corrected: a pack whose parities do not
// hold gets the one symbol changed that makes them hold, found by trying every symbol and
// value (a plain search, slow but independent of the player's syndrome decoder). False, and
// the pack unchanged, when no single change does it. Works on bits 5..0; bits 7..6 stay.
bool CorrectCdgPack(std::uint8_t pack[kCdgPackSymbols]);

// Spreads packs over the sub-channel stream as a disc does: symbol position s of an outgoing
// pack carries symbol k of the pack that came in s % 8 packs earlier, where k = s except for
// the exchanged pairs 1/18, 2/5 and 3/23 (so the Q-check symbols 0-3 travel in four different
// packs). A reader's de-interleaving delay line (CdgDeinterleaver) then gives back every pack
// exactly 7 packs later; the first 7 packs it returns are all zero, from the two empty delay
// lines. Feed 7 empty packs after the last one to flush it out. One object per stream, used by
// one thread at a time.
class CdgInterleaver {
public:
    static constexpr std::size_t kDelayPacks = 7;

    void Reset();                                        // empty delay line, as at the start of a stream
    void Interleave(std::uint8_t pack[kCdgPackSymbols]); // in place
    void Interleave(std::uint8_t* packs, std::size_t n); // n consecutive packs

private:
    std::array<CdgPack, 8> history_{}; // slot m: the pack that came in m packs ago
};

// The reader's side: a delay line of 8 packs, slot 0 the newest. Output symbol k is symbol
// s(k) of the pack d(k) packs old, d(k) = 7 - s(k) % 8. What a drive does before it hands out
// de-interleaved R-W (READ CD selection 4). One object per stream, one thread at a time.
class CdgDeinterleaver {
public:
    void Reset();
    void Deinterleave(std::uint8_t pack[kCdgPackSymbols]);
    void Deinterleave(std::uint8_t* packs, std::size_t n);

private:
    std::array<CdgPack, 8> history_{};
};

// Colour table entry: 4-bit red, green and blue (0..15).
struct CdgColour {
    std::uint8_t red = 0, green = 0, blue = 0;
};
// Scroll commands: which way the picture moves by one tile (6 pixels across, 12 down).
enum class CdgHScroll : std::uint8_t { None = 0, Right = 1, Left = 2 };
enum class CdgVScroll : std::uint8_t { None = 0, Down = 1, Up = 2 };

// Graphics packs with parity filled in. Every argument is masked to the width of its field and
// nothing else is checked, so that a test disc can also carry what a decoder must skip (a tile
// at column 50 or row 18, a horizontal offset of 7, a vertical one of 15).
namespace CdgPacks {

inline constexpr std::uint8_t kGraphicsCommand = 0x09;
enum Instruction : std::uint8_t {
    kMemoryPreset = 1,
    kBorderPreset = 2,
    kTileBlock = 6,
    kScrollPreset = 20,
    kScrollCopy = 24,
    kDefineTransparent = 28,
    kLoadClutLow = 30,
    kLoadClutHigh = 31,
    kTileBlockXor = 38,
};
using TileRows = std::array<std::uint8_t, 12>; // one 6-bit row each, bit 5 the leftmost pixel

// Any pack: command, instruction and the 16 data symbols, then parity.
CdgPack Make(std::uint8_t command, std::uint8_t instruction, const std::array<std::uint8_t, kCdgDataSymbols>& data);
CdgPack Empty(); // command 0, all symbols 0 (its parity is 0 too)
// d0 = colour, d1 = repeat count; a decoder acts only on repeat 0.
CdgPack MemoryPreset(std::uint8_t colour, std::uint8_t repeat = 0);
CdgPack BorderPreset(std::uint8_t colour); // d0 = colour
// d0 = colour for clear bits, d1 = colour for set bits, d2 = row (5 bits), d3 = column (6 bits),
// d4..d15 = the 12 pixel rows.
CdgPack TileBlock(std::uint8_t colour0, std::uint8_t colour1, std::uint8_t row, std::uint8_t column,
                  const TileRows& rows);
CdgPack TileBlockXor(std::uint8_t colour0, std::uint8_t colour1, std::uint8_t row, std::uint8_t column,
                     const TileRows& rows);
// d0 = fill colour (preset only), d1 = horizontal command << 4 | offset (3 bits),
// d2 = vertical command << 4 | offset (4 bits).
CdgPack ScrollPreset(std::uint8_t colour, CdgHScroll h, std::uint8_t hOffset, CdgVScroll v, std::uint8_t vOffset);
CdgPack ScrollCopy(CdgHScroll h, std::uint8_t hOffset, CdgVScroll v, std::uint8_t vOffset);
// Entry j in d(2j), d(2j+1): red << 2 | green >> 2, then (green & 3) << 4 | blue.
CdgPack LoadClutLow(const std::array<CdgColour, 8>& entries);  // colours 0-7
CdgPack LoadClutHigh(const std::array<CdgColour, 8>& entries); // colours 8-15
// d0 = the colour index; the other symbols 0.
CdgPack DefineTransparent(std::uint8_t colour);

} // namespace CdgPacks

} // namespace vantrel::vdrive
