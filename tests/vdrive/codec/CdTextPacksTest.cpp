#include "vdrive/codec/CdTextPacks.h"

#include <array>
#include <optional>
#include <stdexcept>

#include <gtest/gtest.h>

namespace vantrel::vdrive {
namespace {

using Pack16 = std::array<std::uint8_t, 16>; // a pack without its CRC

Pack16 Head(const std::vector<std::uint8_t>& packs, std::size_t index)
{
    Pack16 head{};
    std::copy_n(packs.begin() + index * kCdTextPackBytes, 16, head.begin());
    return head;
}

Pack16 MakeHead(std::uint8_t type, std::uint8_t track, std::uint8_t sequence, std::uint8_t position,
                std::string_view text)
{
    Pack16 head{type, track, sequence, position};
    std::copy(text.begin(), text.end(), head.begin() + 4);
    return head;
}

TEST(CdTextPacks, SmallBlockLaysOutEveryByte)
{
    CdTextBlock block;
    block.albumTitle = "Abc";
    block.trackTitles = {"Hello World!", "X"};
    block.albumPerformer = "Pf";
    const std::vector<std::uint8_t> packs = BuildCdTextPacks(block);
    ASSERT_EQ(packs.size(), 6 * kCdTextPackBytes);

    using namespace std::string_view_literals;
    // Titles "Abc\0Hello World!\0X\0": the second pack begins inside track 1's string at
    // character 8. Performers: the disc's, then two empty track strings. No songwriter packs.
    EXPECT_EQ(Head(packs, 0), MakeHead(0x80, 0, 0, 0, "Abc\0Hello Wo"sv));
    EXPECT_EQ(Head(packs, 1), MakeHead(0x80, 1, 1, 8, "rld!\0X\0"sv));
    EXPECT_EQ(Head(packs, 2), MakeHead(0x81, 0, 2, 0, "Pf\0\0\0"sv));
    // Size information: code 0, tracks 1-2, flags 0, 2 title packs, 1 performer pack,
    // 3 size packs, last sequence number 5 in block 0, language 0x09 for block 0.
    EXPECT_EQ(Head(packs, 3), MakeHead(0x8F, 0, 3, 0, "\x00\x01\x02\x00\x02\x01\x00\x00\x00\x00\x00\x00"sv));
    EXPECT_EQ(Head(packs, 4), MakeHead(0x8F, 1, 4, 0, "\x00\x00\x00\x00\x00\x00\x00\x03\x05\x00\x00\x00"sv));
    EXPECT_EQ(Head(packs, 5), MakeHead(0x8F, 2, 5, 0, "\x00\x00\x00\x00\x09\x00\x00\x00\x00\x00\x00\x00"sv));
    // Inverted CRC-16/XMODEM of pack 0's 16 bytes, computed apart from this code.
    EXPECT_EQ(packs[16], 0x78);
    EXPECT_EQ(packs[17], 0x5F);
}

TEST(CdTextPacks, CrcCoversTheFirstSixteenBytes)
{
    CdTextBlock block;
    block.albumTitle = "Album";
    block.trackTitles = {"One", "Two"};
    const std::vector<std::uint8_t> packs = BuildCdTextPacks(block);
    ASSERT_FALSE(packs.empty());
    for (std::size_t p = 0; p < packs.size() / kCdTextPackBytes; ++p) {
        const std::uint8_t* pack = packs.data() + p * kCdTextPackBytes;
        EXPECT_TRUE(CheckCdTextCrc(pack)) << p;
        for (std::size_t bit = 0; bit < 8 * kCdTextPackBytes; ++bit) {
            std::array<std::uint8_t, kCdTextPackBytes> bad;
            std::copy_n(pack, kCdTextPackBytes, bad.begin());
            bad[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
            ASSERT_FALSE(CheckCdTextCrc(bad.data())) << p << " " << bit;
        }
    }
}

// A reader of the packs by the rules the program's CD-Text parser follows: the last three
// packs are the size information; the block's pack count is its last sequence number + 1;
// each type's 12-byte payloads are joined (at most as many packs as announced) and split at
// NUL bytes into the disc's string and one per track, each cut at 167 bytes.
struct ParsedBlock {
    std::uint8_t characterCode = 0, firstTrack = 0, lastTrack = 0, language = 0;
    std::array<std::vector<std::string>, 3> texts; // title, performer, songwriter
};

std::optional<ParsedBlock> Parse(const std::vector<std::uint8_t>& packs)
{
    const std::size_t n = packs.size() / kCdTextPackBytes;
    if (n <= 3)
        return std::nullopt;
    const auto pack = [&](std::size_t i) { return packs.data() + i * kCdTextPackBytes; };
    std::array<std::uint8_t, 36> size{};
    for (std::size_t part = 0; part < 3; ++part) {
        const std::uint8_t* p = pack(n - 3 + part);
        if (p[0] != 0x8F || p[1] != part)
            return std::nullopt;
        std::copy_n(p + 4, 12, size.begin() + 12 * part);
    }
    if (std::size_t{size[20]} + 1 != n) // one block, which must hold every pack
        return std::nullopt;
    ParsedBlock block;
    block.characterCode = size[0];
    block.firstTrack = size[1];
    block.lastTrack = size[2];
    block.language = size[28];
    const std::size_t tracks = block.lastTrack - block.firstTrack + 1;
    for (int type = 0; type < 3; ++type) {
        std::string joined;
        std::size_t taken = 0;
        for (std::size_t i = 0; i < n && taken < size[4 + type]; ++i)
            if (pack(i)[0] == 0x80 + type) {
                joined.append(reinterpret_cast<const char*>(pack(i) + 4), 12);
                ++taken;
            }
        auto& strings = block.texts[type];
        strings.resize(tracks + 1);
        std::size_t start = 0;
        for (auto& s : strings) {
            if (start >= joined.size())
                break;
            const std::size_t end = std::min(joined.find('\0', start), joined.size());
            s = joined.substr(start, std::min<std::size_t>(end - start, 167));
            start = end + 1;
        }
    }
    return block;
}

TEST(CdTextPacks, ReaderGetsEveryStringBackAndEachPackNamesWhereItStarts)
{
    CdTextBlock block;
    block.firstTrack = 5;
    block.language = 0x08;
    block.albumTitle = "A title long enough to run over two packs";
    block.trackTitles = {"Intro", "", "Third track, whose name is longer than fifteen characters", "End"};
    block.albumPerformer = "The Band";
    block.trackPerformers = {"The Band", "The Band feat. Someone"}; // shorter list: the rest empty
    block.trackSongwriters = {"", "", "", "Only the last"};

    const std::vector<std::uint8_t> packs = BuildCdTextPacks(block);
    const std::optional<ParsedBlock> parsed = Parse(packs);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->characterCode, 0);
    EXPECT_EQ(parsed->firstTrack, 5);
    EXPECT_EQ(parsed->lastTrack, 8);
    EXPECT_EQ(parsed->language, 0x08);
    const std::vector<std::string> expected[3] = {
        {block.albumTitle, "Intro", "", block.trackTitles[2], "End"},
        {"The Band", "The Band", "The Band feat. Someone", "", ""},
        {"", "", "", "", "Only the last"},
    };
    for (int type = 0; type < 3; ++type)
        EXPECT_EQ(parsed->texts[type], expected[type]) << type;

    // Pack by pack: types in order, sequence numbers counting, block 0, single-byte, and the
    // track / character position of the string that holds the pack's first byte.
    const std::size_t n = packs.size() / kCdTextPackBytes;
    std::size_t offset = 0; // of the pack's first byte within its type's joined strings
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = packs.data() + i * kCdTextPackBytes;
        EXPECT_EQ(p[2], i);
        EXPECT_EQ(p[3] & 0xF0, 0) << i;
        if (i > 0 && p[0] != p[-kCdTextPackBytes])
            offset = 0;
        if (p[0] == 0x8F)
            continue;
        ASSERT_TRUE(p[0] >= 0x80 && p[0] <= 0x82) << i;
        if (i > 0) {
            EXPECT_GE(p[0], p[-kCdTextPackBytes]) << i;
        }
        const auto& strings = expected[p[0] - 0x80];
        std::size_t entry = 0, start = 0;
        while (start + strings[entry].size() + 1 <= offset)
            start += strings[entry++].size() + 1;
        EXPECT_EQ(p[1], entry == 0 ? 0 : 5 + entry - 1) << i;
        EXPECT_EQ(p[3], std::min<std::size_t>(offset - start, 15)) << i;
        offset += 12;
    }
}

TEST(CdTextPacks, NoTextMeansNoPacks)
{
    CdTextBlock block;
    block.trackTitles = {"", ""};
    EXPECT_TRUE(BuildCdTextPacks(block).empty());
}

TEST(CdTextPacks, RefusesWhatADiscCannotCarry)
{
    CdTextBlock tooManyTracks;
    tooManyTracks.firstTrack = 90;
    tooManyTracks.trackTitles.assign(11, "t"); // tracks 90..100
    EXPECT_TRUE(BuildCdTextPacks(tooManyTracks).empty());
    tooManyTracks.trackTitles.pop_back(); // 90..99 fits
    EXPECT_EQ(Parse(BuildCdTextPacks(tooManyTracks))->lastTrack, 99);

    CdTextBlock trackZero;
    trackZero.firstTrack = 0;
    trackZero.albumTitle = "x";
    EXPECT_TRUE(BuildCdTextPacks(trackZero).empty());

    // 253 text packs plus 3 size packs is the most a block holds.
    CdTextBlock full;
    full.albumTitle = std::string(253 * 12 - 1, 'a');
    EXPECT_EQ(BuildCdTextPacks(full).size(), 256 * kCdTextPackBytes);
    full.albumTitle += 'a';
    EXPECT_TRUE(BuildCdTextPacks(full).empty());
}

} // namespace
} // namespace vantrel::vdrive
