#include "vdrive/Disc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vdrive/codec/SubLayout.h"
#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive {

// An image file open for reading at any offset, closed with the object.
class ImageFile {
public:
    ImageFile(std::string path, int fd, std::int64_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
    ~ImageFile() { ::close(fd_); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    const std::string& Path() const { return path_; }
    std::int64_t Size() const { return size_; }

    // Exactly n bytes at offset; bytes past the end of the file read as zero.
    bool Read(std::int64_t offset, std::uint8_t* out, std::size_t n) const
    {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        std::memset(out + done, 0, n - done);
        return true;
    }

private:
    std::string path_;
    int fd_;
    std::int64_t size_;
};

Disc::Disc() = default;
Disc::~Disc() = default;
Disc::Disc(Disc&&) noexcept = default;
Disc& Disc::operator=(Disc&&) noexcept = default;

int Disc::AddFile(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + ": not a regular file";
        return -1;
    }
    files_.push_back(std::make_unique<ImageFile>(path, fd, static_cast<std::int64_t>(st.st_size)));
    return static_cast<int>(files_.size() - 1);
}

bool Disc::AttachSubFile(const std::string& path, int dataFile, std::int64_t sectors, std::string& error)
{
    std::string why;
    const int sub = AddFile(path, why);
    if (sub < 0) {
        error = "cannot open " + why;
        return false;
    }
    if (FileSize(sub) != sectors * kSubBytes) {
        error = path + ": size " + std::to_string(FileSize(sub)) + " does not match " + std::to_string(sectors) +
                " sectors of 96 bytes";
        return false;
    }
    for (Extent& extent : extents)
        if (extent.file == dataFile) {
            extent.subFile = sub;
            extent.subOffset = extent.offset / kSectorBytes * kSubBytes;
        }
    std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::int64_t>(sectors, 32)) * kSubBytes);
    if (!files_.back()->Read(0, head.data(), head.size())) {
        error = path + ": read error";
        return false;
    }
    subLayout = DetectSubLayout(head.data(), head.size() / kSubBytes);
    return true;
}

SubLayout DetectSubLayout(const std::uint8_t* bytes, std::size_t sectors)
{
    int raw = 0, channels = 0;
    for (std::size_t i = 0; i < sectors; ++i) {
        const std::uint8_t* sector = bytes + i * kSubBytes;
        std::uint8_t q[kQFrameBytes];
        ExtractQ(sector, q);
        raw += QCrc(q, 10) == (q[10] << 8 | q[11]);
        const std::uint8_t* cq = sector + kQFrameBytes;  // channel Q follows channel P
        channels += QCrc(cq, 10) == (cq[10] << 8 | cq[11]);
    }
    return channels > raw ? SubLayout::Channels : SubLayout::RawPW;
}

const std::string& Disc::FilePath(int file) const { return files_.at(static_cast<std::size_t>(file))->Path(); }
std::int64_t Disc::FileSize(int file) const { return files_.at(static_cast<std::size_t>(file))->Size(); }

const Track* Disc::TrackAt(std::int64_t lba) const
{
    for (const Track& track : tracks) {
        // Track 1's pre-gap before sector 0 is on every disc, stored or not.
        const std::int64_t first = &track == &tracks.front() ? std::min<std::int64_t>(track.pregapStart, -150)
                                                             : track.pregapStart;
        if (lba >= first && lba < track.end)
            return &track;
    }
    return nullptr;
}

const Track* Disc::FindTrack(int number) const
{
    for (const Track& track : tracks)
        if (track.number == number)
            return &track;
    return nullptr;
}

bool Disc::HasSubFile() const
{
    return std::any_of(extents.begin(), extents.end(), [](const Extent& e) { return e.subFile >= 0; });
}

const Extent* Disc::ExtentAt(std::int64_t lba) const
{
    auto after = std::upper_bound(extents.begin(), extents.end(), lba,
                                  [](std::int64_t value, const Extent& e) { return value < e.lba; });
    if (after == extents.begin())
        return nullptr;
    const Extent& extent = *std::prev(after);
    return lba < extent.lba + extent.count ? &extent : nullptr;
}

bool Disc::ReadSector(std::int64_t lba, std::uint8_t* out) const
{
    const Extent* extent = ExtentAt(lba);
    if (!extent || extent->file < 0) {
        std::memset(out, 0, kSectorBytes);
        return true;
    }
    return files_[static_cast<std::size_t>(extent->file)]->Read(extent->offset + (lba - extent->lba) * kSectorBytes,
                                                                out, kSectorBytes);
}

void Disc::MakeQ(std::int64_t lba, std::uint8_t* q) const
{
    QPosition position;
    position.absoluteFrames = lba + 150;
    if (const Track* track = TrackAt(lba)) {
        position.control = track->Control();
        position.track = static_cast<std::uint8_t>(track->number);
        position.relativeFrames = lba - track->start;
        if (lba < track->start)
            position.index = 0;
        else
            position.index = static_cast<std::uint8_t>(
                1 + std::count_if(track->moreIndexes.begin(), track->moreIndexes.end(),
                                  [lba](std::int64_t at) { return at <= lba; }));
    } else {
        // The lead-out of the session this sector follows.
        const Session* session = sessions.empty() ? nullptr : &sessions.front();
        for (const Session& s : sessions)
            if (s.leadOut <= lba)
                session = &s;
        const Track* last = session ? FindTrack(session->lastTrack) : nullptr;
        position.control = last ? static_cast<std::uint8_t>(last->Control() & 0x0D) : 0;
        position.track = kLeadOutTrack;
        position.index = 1;
        position.relativeFrames = session ? lba - session->leadOut : 0;
    }
    EncodeQ(position, q);
}

bool Disc::ReadSubchannel(std::int64_t lba, std::uint8_t* raw) const
{
    const Extent* extent = ExtentAt(lba);
    if (extent && extent->subFile >= 0) {
        std::uint8_t bytes[kSubBytes];
        if (!files_[static_cast<std::size_t>(extent->subFile)]->Read(
                extent->subOffset + (lba - extent->lba) * kSubBytes, bytes, kSubBytes))
            return false;
        if (subLayout == SubLayout::Channels)
            ChannelsToRaw(bytes, raw);
        else
            std::memcpy(raw, bytes, kSubBytes);
        return true;
    }
    std::memset(raw, 0, kSubBytes);
    std::uint8_t q[kQFrameBytes];
    MakeQ(lba, q);
    PutQ(raw, q);
    const Track* track = TrackAt(lba);
    PutP(raw, !track || lba < track->start);  // the pause flag is up in gaps and the lead-out
    return true;
}

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& error)
{
    std::string why;
    Disc holder;
    const int file = holder.AddFile(path, why);
    if (file < 0) {
        error = "cannot open " + why;
        return false;
    }
    const std::int64_t size = holder.FileSize(file);
    if (size > static_cast<std::int64_t>(limit)) {
        error = path + ": too large (" + std::to_string(size) + " bytes)";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    if (!holder.files_[0]->Read(0, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size())) {
        error = path + ": read error";
        return false;
    }
    return true;
}

}  // namespace vantrel::vdrive
