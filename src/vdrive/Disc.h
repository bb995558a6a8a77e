// A disc as the emulated drive sees it: sessions, tracks with their index points and
// flags, CD-Text, and where every sector's audio and sub-channel bytes come from (image
// files, or silence for gaps the image does not store). Read-only once built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::vdrive {

inline constexpr int kSectorBytes = 2352;
inline constexpr int kSubBytes = 96;
// Between two sessions: the first one's lead-out (6750 sectors) and the next lead-in (4500).
inline constexpr std::int64_t kSessionGapSectors = 11250;

enum class TrackMode { Audio, Mode1Raw };  // MODE1/2352 data tracks are stored raw like audio

struct CdText {
    std::string title, performer, songwriter;
    bool Empty() const { return title.empty() && performer.empty() && songwriter.empty(); }
};

struct Track {
    int number = 1;
    int session = 1;
    TrackMode mode = TrackMode::Audio;
    bool preEmphasis = false;
    bool copyPermitted = false;
    bool fourChannel = false;
    // Sector numbers (LBA, 0 = 00:02:00) of index 0, index 1 and any further indexes.
    std::int64_t pregapStart = 0;  // equals start when the track has no pre-gap
    std::int64_t start = 0;
    std::vector<std::int64_t> moreIndexes;  // index 2, 3, ...
    std::int64_t end = 0;                   // one past the last sector of the track
    CdText text;

    std::uint8_t Control() const
    {
        return static_cast<std::uint8_t>((preEmphasis ? 1 : 0) | (copyPermitted ? 2 : 0) |
                                         (mode == TrackMode::Audio ? 0 : 4) | (fourChannel ? 8 : 0));
    }
};

struct Session {
    int number = 1;
    int firstTrack = 1;
    int lastTrack = 1;
    std::int64_t leadOut = 0;  // sector number of the session's lead-out
};

// How a .sub file lays out its 96 bytes per sector.
enum class SubLayout { RawPW, Channels };

// Where a run of sectors is stored: a file and byte offset, or nowhere (silence).
struct Extent {
    std::int64_t lba = 0;
    std::int64_t count = 0;
    int file = -1;  // index into Disc::files; -1 for silence
    std::int64_t offset = 0;
    int subFile = -1;  // index into Disc::files of the sub-channel file, -1 for none
    std::int64_t subOffset = 0;
};

class ImageFile;

class Disc {
public:
    Disc();
    ~Disc();
    Disc(Disc&&) noexcept;
    Disc& operator=(Disc&&) noexcept;

    std::vector<Session> sessions;
    std::vector<Track> tracks;
    CdText albumText;
    std::vector<std::uint8_t> cdTextPacks;  // from a CD-Text file; empty: built from the texts
    SubLayout subLayout = SubLayout::RawPW;
    std::vector<Extent> extents;  // sorted by lba, not overlapping

    // Opens path for reading sectors; returns its index for Extent::file, or -1.
    int AddFile(const std::string& path, std::string& error);
    // Opens the sub-channel file of the sectors stored in dataFile (sectors of them, 96
    // bytes each in the same order), checks its size and works out its layout. False with
    // a message naming the file when it cannot be used.
    bool AttachSubFile(const std::string& path, int dataFile, std::int64_t sectors, std::string& error);
    const std::string& FilePath(int file) const;
    std::int64_t FileSize(int file) const;

    std::int64_t LeadOut() const { return sessions.empty() ? 0 : sessions.back().leadOut; }
    const Track* TrackAt(std::int64_t lba) const;  // the track a sector belongs to, or null
    const Track* FindTrack(int number) const;
    bool HasSubFile() const;

    // 2352 bytes of sector lba; silence where nothing is stored. False when the image
    // cannot be read.
    bool ReadSector(std::int64_t lba, std::uint8_t* out) const;
    // The 96 raw P-W bytes of sector lba: from the sub-channel file when there is one,
    // else P and Q made from the table of contents and empty R-W.
    bool ReadSubchannel(std::int64_t lba, std::uint8_t* raw) const;
    // The Q of sector lba made from the table of contents (12 bytes with CRC).
    void MakeQ(std::int64_t lba, std::uint8_t* q) const;

private:
    friend bool ReadWholeFile(const std::string&, std::size_t, std::string&, std::string&);
    const Extent* ExtentAt(std::int64_t lba) const;
    std::vector<std::unique_ptr<ImageFile>> files_;
};

// Which of the two .sub layouts holds valid Q frames in the given bytes.
SubLayout DetectSubLayout(const std::uint8_t* bytes, std::size_t sectors);

// The bytes of a regular file of at most limit bytes; false with a message otherwise.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& error);

}  // namespace vantrel::vdrive
