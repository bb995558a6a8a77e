// CD-Text as a disc's lead-in carries it: 18-byte packs (type, track, sequence number,
// block and character position, 12 bytes of text, inverted CRC-16), built here from plain
// strings for one language block, the way READ TOC format 5 hands them out after its header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::vdrive {

inline constexpr std::size_t kCdTextPackBytes = 18;

// The texts of one language block, single-byte characters (ISO 8859-1, character code 0).
// Track entry k belongs to track firstTrack + k; the block covers as many tracks as the
// longest of the three lists, and a shorter list counts as empty strings for the rest.
// A string ends at its first NUL byte, if it holds one.
struct CdTextBlock {
    std::string albumTitle, albumPerformer, albumSongwriter;
    std::vector<std::string> trackTitles, trackPerformers, trackSongwriters;
    std::uint8_t firstTrack = 1;
    std::uint8_t language = 0x09; // English
};

// Block 0's packs, sequence numbers from 0: the title (0x80), performer (0x81) and songwriter
// (0x82) packs of the types that have any text, then the three size-information packs (0x8F).
// Within a type the strings (disc first, then each track) are NUL-terminated and run on from
// pack to pack; byte 1 names the track whose string holds the pack's first byte and byte 3
// how many characters of that string come before it (at most 15). Without any text at all
// the result is empty: such a disc carries no CD-Text. It is empty too when the last track
// would be above 99 or the first below 1, or the block would need more than 256 packs.
std::vector<std::uint8_t> BuildCdTextPacks(const CdTextBlock& block);

// True when bytes 16-17 hold the inverted CRC-16 (x^16 + x^12 + x^5 + 1) of bytes 0-15.
bool CheckCdTextCrc(const std::uint8_t pack[kCdTextPackBytes]);

} // namespace vantrel::vdrive
