#include "vdrive/codec/CdTextPacks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive {
namespace {

constexpr std::size_t kTextBytes = 12;
constexpr std::size_t kMaxPacks = 256;
constexpr std::uint8_t kSizeInfo = 0x8F;

struct PackWriter {
    std::vector<std::uint8_t> out;
    std::size_t sequence = 0;

    void Add(std::uint8_t type, std::uint8_t track, std::uint8_t position, const std::uint8_t* text)
    {
        if (sequence == kMaxPacks)
            throw std::length_error("CD-Text block needs more than 256 packs");
        std::uint8_t pack[kCdTextPackBytes] = {type, track, static_cast<std::uint8_t>(sequence++), position};
        std::memcpy(pack + 4, text, kTextBytes);
        const std::uint16_t crc = QCrc(pack, 16);
        pack[16] = static_cast<std::uint8_t>(crc >> 8);
        pack[17] = static_cast<std::uint8_t>(crc);
        out.insert(out.end(), pack, pack + kCdTextPackBytes);
    }
};

// Writes one text type's strings (entry 0 the disc, entry k track first + k - 1); returns the
// number of packs.
std::size_t AddTextPacks(PackWriter& writer, std::uint8_t type, std::uint8_t firstTrack,
                         const std::vector<std::string>& strings)
{
    // Every byte of the run with the track it belongs to and its place in that string.
    std::vector<std::uint8_t> bytes, tracks, positions;
    for (std::size_t entry = 0; entry < strings.size(); ++entry) {
        const std::string& s = strings[entry];
        const std::size_t length = std::min(s.size(), s.find('\0'));
        const auto track = static_cast<std::uint8_t>(entry == 0 ? 0 : firstTrack + entry - 1);
        for (std::size_t i = 0; i <= length; ++i) { // the terminating NUL included
            bytes.push_back(i < length ? static_cast<std::uint8_t>(s[i]) : 0);
            tracks.push_back(track);
            positions.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(i, 15)));
        }
    }
    const std::size_t packs = (bytes.size() + kTextBytes - 1) / kTextBytes;
    bytes.resize(packs * kTextBytes, 0);
    for (std::size_t p = 0; p < packs; ++p)
        writer.Add(type, tracks[p * kTextBytes], positions[p * kTextBytes], bytes.data() + p * kTextBytes);
    return packs;
}

bool HasText(const std::vector<std::string>& strings)
{
    return std::any_of(strings.begin(), strings.end(), [](const std::string& s) { return !s.empty() && s[0] != '\0'; });
}

} // namespace

namespace {
std::vector<std::uint8_t> BuildPacks(const CdTextBlock& block)
{
    const std::size_t tracks =
        std::max({block.trackTitles.size(), block.trackPerformers.size(), block.trackSongwriters.size()});
    const std::size_t lastTrack = block.firstTrack + (tracks == 0 ? 0 : tracks - 1);
    if (block.firstTrack < 1 || lastTrack > 99)
        throw std::invalid_argument("CD-Text tracks must lie within 1..99");

    const auto strings = [&](const std::string& album, const std::vector<std::string>& perTrack) {
        std::vector<std::string> all(tracks + 1);
        all[0] = album;
        std::copy(perTrack.begin(), perTrack.end(), all.begin() + 1);
        return all;
    };
    const std::vector<std::string> texts[] = {strings(block.albumTitle, block.trackTitles),
                                              strings(block.albumPerformer, block.trackPerformers),
                                              strings(block.albumSongwriter, block.trackSongwriters)};

    if (!HasText(texts[0]) && !HasText(texts[1]) && !HasText(texts[2]))
        return {};

    PackWriter writer;
    // Size information: character code, first and last track, flags, packs per type
    // 0x80..0x8F, last sequence number and language of blocks 0..7.
    std::array<std::uint8_t, 3 * kTextBytes> size{};
    size[1] = block.firstTrack;
    size[2] = static_cast<std::uint8_t>(lastTrack);
    for (std::uint8_t type = 0; type < 3; ++type)
        if (HasText(texts[type]))
            size[4 + type] =
                static_cast<std::uint8_t>(AddTextPacks(writer, 0x80 + type, block.firstTrack, texts[type]));
    size[4 + 0x0F] = 3;
    size[20] = static_cast<std::uint8_t>(writer.sequence + 2);
    size[28] = block.language;
    for (std::uint8_t part = 0; part < 3; ++part)
        writer.Add(kSizeInfo, part, 0, size.data() + part * kTextBytes);
    return std::move(writer.out);
}

} // namespace

std::vector<std::uint8_t> BuildCdTextPacks(const CdTextBlock& block)
{
    try {
        return BuildPacks(block);
    } catch (const std::exception&) {
        return {}; // texts that no disc can carry give a disc without CD-Text
    }
}

bool CheckCdTextCrc(const std::uint8_t pack[kCdTextPackBytes])
{
    return QCrc(pack, 16) == (pack[16] << 8 | pack[17]);
}

} // namespace vantrel::vdrive
