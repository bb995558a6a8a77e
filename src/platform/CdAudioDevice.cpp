#include "platform/CdAudioDevice.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Message.h"
#include "platform/MessageWindow.h"

namespace vantrel::platform {

namespace {

// A notice is given up as failed after this many status reads in a row went wrong: one
// refused read (a unit attention, a busy bus) is no reason to end a play.
constexpr int kStatusFailuresToFail = 3;

std::int64_t MsfFrames(int minute, int second, int frame)
{
    return minute * kCdFramesPerMinute + second * kCdFramesPerSecond + frame;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// The CD-ROM ioctls of the Linux block driver. The descriptor is opened non-blocking so
// that a drive without a disc can still be asked about its tray.
class LinuxCdromDrive final : public ICdAudioDrive {
public:
    explicit LinuxCdromDrive(std::unique_ptr<FileDescriptor> fd) : fd_(std::move(fd)) {}

    CdMedia Media() override
    {
        switch (::ioctl(fd_->Get(), CDROM_DRIVE_STATUS, CDSL_CURRENT)) {
        case CDS_DISC_OK:
            return CdMedia::Present;
        case CDS_TRAY_OPEN:
            return CdMedia::TrayOpen;
        case CDS_NO_DISC:
            return CdMedia::NoDisc;
        default:
            return CdMedia::NotReady;
        }
    }

    bool ReadToc(CdAudioToc& toc) override
    {
        cdrom_tochdr header{};
        if (::ioctl(fd_->Get(), CDROMREADTOCHDR, &header) != 0 || header.cdth_trk0 < 1 ||
            header.cdth_trk1 < header.cdth_trk0)
            return false;
        CdAudioToc read;
        read.firstTrack = header.cdth_trk0;
        for (int track = header.cdth_trk0; track <= header.cdth_trk1; ++track) {
            std::int64_t start = 0;
            bool data = false;
            if (!Entry(track, start, data))
                return false;
            read.starts.push_back(start);
            read.audio.push_back(!data);
        }
        bool data = false;
        if (!Entry(CDROM_LEADOUT, read.leadOut, data))
            return false;
        toc = std::move(read);
        return true;
    }

    bool Play(std::int64_t from, std::int64_t to) override
    {
        cdrom_msf msf{};
        msf.cdmsf_min0 = static_cast<__u8>(from / kCdFramesPerMinute);
        msf.cdmsf_sec0 = static_cast<__u8>(from / kCdFramesPerSecond % 60);
        msf.cdmsf_frame0 = static_cast<__u8>(from % kCdFramesPerSecond);
        msf.cdmsf_min1 = static_cast<__u8>(to / kCdFramesPerMinute);
        msf.cdmsf_sec1 = static_cast<__u8>(to / kCdFramesPerSecond % 60);
        msf.cdmsf_frame1 = static_cast<__u8>(to % kCdFramesPerSecond);
        return ::ioctl(fd_->Get(), CDROMPLAYMSF, &msf) == 0;
    }

    bool Stop() override { return ::ioctl(fd_->Get(), CDROMSTOP) == 0; }
    bool Pause() override { return ::ioctl(fd_->Get(), CDROMPAUSE) == 0; }
    bool Resume() override { return ::ioctl(fd_->Get(), CDROMRESUME) == 0; }

    bool Status(CdPlayStatus& status) override
    {
        cdrom_subchnl sub{};
        sub.cdsc_format = CDROM_MSF;
        if (::ioctl(fd_->Get(), CDROMSUBCHNL, &sub) != 0)
            return false;
        switch (sub.cdsc_audiostatus) {
        case CDROM_AUDIO_PLAY:
            status.state = CdPlayState::Playing;
            break;
        case CDROM_AUDIO_PAUSED:
            status.state = CdPlayState::Paused;
            break;
        case CDROM_AUDIO_COMPLETED:
            status.state = CdPlayState::Completed;
            break;
        case CDROM_AUDIO_ERROR:
            status.state = CdPlayState::Error;
            break;
        default:
            status.state = CdPlayState::None;
            break;
        }
        status.position =
            MsfFrames(sub.cdsc_absaddr.msf.minute, sub.cdsc_absaddr.msf.second, sub.cdsc_absaddr.msf.frame);
        return true;
    }

    bool SetTray(bool open) override
    {
        if (!open)
            return ::ioctl(fd_->Get(), CDROMCLOSETRAY) == 0;
        ::ioctl(fd_->Get(), CDROM_LOCKDOOR, 0); // a door left locked by someone else
        return ::ioctl(fd_->Get(), CDROMEJECT) == 0;
    }

private:
    bool Entry(int track, std::int64_t& start, bool& data)
    {
        cdrom_tocentry entry{};
        entry.cdte_track = static_cast<__u8>(track);
        entry.cdte_format = CDROM_MSF;
        if (::ioctl(fd_->Get(), CDROMREADTOCENTRY, &entry) != 0)
            return false;
        start = MsfFrames(entry.cdte_addr.msf.minute, entry.cdte_addr.msf.second, entry.cdte_addr.msf.frame);
        data = (entry.cdte_ctrl & CDROM_DATA_TRACK) != 0;
        return true;
    }

    std::unique_ptr<FileDescriptor> fd_;
};

} // namespace

std::unique_ptr<ICdAudioDrive> OpenCdromDrive(const std::string& node)
{
    auto fd = std::make_unique<FileDescriptor>(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd->Get() < 0 || ::ioctl(fd->Get(), CDROM_GET_CAPABILITY, 0) < 0)
        return nullptr;
    return std::make_unique<LinuxCdromDrive>(std::move(fd));
}

// ---------------------------------------------------------------------------------

CdAudioDevice::CdAudioDevice(std::unique_ptr<ICdAudioDrive> drive, std::uint32_t id, std::chrono::milliseconds poll)
    : drive_(std::move(drive)), id_(id), poll_(poll), watcher_([this] { Watch(); })
{
}

CdAudioDevice::~CdAudioDevice()
{
    {
        std::scoped_lock lock(mutex_);
        quit_ = true;
        pending_.reset(); // the window may be gone by now: nothing more is posted
    }
    wake_.notify_all();
    watcher_.join();
}

void CdAudioDevice::SetTimeFormat(TimeFormat format)
{
    std::scoped_lock lock(mutex_);
    format_ = format;
}

CdAudioDevice::TimeFormat CdAudioDevice::GetTimeFormat() const
{
    std::scoped_lock lock(mutex_);
    return format_;
}

std::optional<std::int64_t> CdAudioDevice::ToFrames(std::uint32_t value, const CdAudioToc* toc) const
{
    switch (format_) {
    case TimeFormat::Milliseconds:
        return std::int64_t{value} * kCdFramesPerSecond / 1000;
    case TimeFormat::Msf:
        return UnpackMsf(value);
    case TimeFormat::Tmsf: {
        const int index = static_cast<int>(value & 0xFF) - (toc ? toc->firstTrack : 0);
        if (!toc || index < 0 || index >= toc->TrackCount())
            return std::nullopt;
        return toc->starts[static_cast<std::size_t>(index)] + UnpackMsf(value >> 8);
    }
    }
    return std::nullopt;
}

std::uint32_t CdAudioDevice::FromFrames(std::int64_t frames, const CdAudioToc& toc) const
{
    switch (format_) {
    case TimeFormat::Milliseconds:
        return static_cast<std::uint32_t>(frames * 1000 / kCdFramesPerSecond);
    case TimeFormat::Msf:
        return PackMsf(frames);
    case TimeFormat::Tmsf: {
        int index = 0;
        while (index + 1 < toc.TrackCount() && toc.starts[static_cast<std::size_t>(index) + 1] <= frames)
            ++index;
        const std::int64_t start = toc.TrackCount() > 0 ? toc.starts[static_cast<std::size_t>(index)] : 0;
        return PackTmsf(toc.firstTrack + index, frames - start);
    }
    }
    return 0;
}

std::uint32_t CdAudioDevice::Duration(std::int64_t frames) const
{
    // Lengths are minute-second-frame in both position formats.
    return format_ == TimeFormat::Milliseconds ? static_cast<std::uint32_t>(frames * 1000 / kCdFramesPerSecond)
                                               : PackMsf(frames);
}

void CdAudioDevice::Finish(Notify code)
{
    if (!pending_)
        return;
    pending_->window->Post(MM_MCINOTIFY, code, static_cast<std::intptr_t>(id_));
    pending_.reset();
}

bool CdAudioDevice::ReadStatus(CdPlayStatus& status)
{
    const bool read = drive_->Status(status);
    if (!pending_)
        return read;
    if (!read) {
        if (++failures_ >= kStatusFailuresToFail)
            Finish(Failure);
        return false;
    }
    failures_ = 0;
    // A drive reports a finished play once and then nothing: either is the end.
    if (status.state == CdPlayState::Completed || status.state == CdPlayState::None)
        Finish(Successful);
    else if (status.state == CdPlayState::Error)
        Finish(Failure);
    return true;
}

bool CdAudioDevice::Play(std::uint32_t from, std::optional<std::uint32_t> to, MessageWindow* notify)
{
    std::int64_t first = 0, last = 0;
    {
        std::scoped_lock lock(mutex_);
        CdAudioToc toc;
        if (!drive_->ReadToc(toc))
            return false;
        const std::optional<std::int64_t> a = ToFrames(from, &toc);
        const std::optional<std::int64_t> b = to ? ToFrames(*to, &toc) : toc.leadOut;
        if (!a || !b)
            return false;
        first = *a;
        last = *b;
    }
    return PlayFrames(first, last, notify);
}

bool CdAudioDevice::PlayFrames(std::int64_t from, std::int64_t to, MessageWindow* notify)
{
    std::scoped_lock lock(mutex_);
    CdAudioToc toc;
    if (!drive_->ReadToc(toc) || toc.TrackCount() == 0 || from < toc.starts.front() || to > toc.leadOut || from >= to)
        return false;
    Finish(notify ? Superseded : Aborted);
    if (!drive_->Play(from, to))
        return false;
    lastEnd_ = to;
    if (notify) {
        pending_ = Pending{notify, to};
        failures_ = 0;
        wake_.notify_all();
    }
    return true;
}

bool CdAudioDevice::Stop()
{
    std::scoped_lock lock(mutex_);
    Finish(Aborted);
    return drive_->Stop();
}

bool CdAudioDevice::Pause()
{
    std::scoped_lock lock(mutex_);
    Finish(Aborted);
    return drive_->Pause();
}

bool CdAudioDevice::Resume(MessageWindow* notify)
{
    std::scoped_lock lock(mutex_);
    if (!drive_->Resume())
        return false;
    if (notify) {
        Finish(Superseded);
        pending_ = Pending{notify, lastEnd_};
        failures_ = 0;
        wake_.notify_all();
    }
    return true;
}

bool CdAudioDevice::PositionFrames(std::int64_t& frames)
{
    std::scoped_lock lock(mutex_);
    CdPlayStatus status;
    if (!ReadStatus(status))
        return false;
    frames = status.position;
    return true;
}

bool CdAudioDevice::Position(std::uint32_t& value)
{
    std::scoped_lock lock(mutex_);
    CdPlayStatus status;
    CdAudioToc toc;
    if (!ReadStatus(status) || (format_ == TimeFormat::Tmsf && !drive_->ReadToc(toc)))
        return false;
    value = FromFrames(status.position, toc);
    return true;
}

CdAudioDevice::Mode CdAudioDevice::GetMode()
{
    std::scoped_lock lock(mutex_);
    CdPlayStatus status;
    if (ReadStatus(status)) {
        if (status.state == CdPlayState::Playing)
            return Mode::Playing;
        if (status.state == CdPlayState::Paused)
            return Mode::Paused;
    }
    switch (drive_->Media()) {
    case CdMedia::Present:
        return Mode::Stopped;
    case CdMedia::TrayOpen:
        return Mode::Open;
    default:
        return Mode::NotReady;
    }
}

bool CdAudioDevice::MediaPresent()
{
    std::scoped_lock lock(mutex_);
    return drive_->Media() == CdMedia::Present;
}

int CdAudioDevice::NumberOfTracks()
{
    std::scoped_lock lock(mutex_);
    CdAudioToc toc;
    return drive_->ReadToc(toc) ? toc.TrackCount() : 0;
}

bool CdAudioDevice::ReadToc(CdAudioToc& toc)
{
    std::scoped_lock lock(mutex_);
    return drive_->ReadToc(toc);
}

bool CdAudioDevice::Length(int track, std::uint32_t& value)
{
    std::scoped_lock lock(mutex_);
    CdAudioToc toc;
    if (!drive_->ReadToc(toc) || toc.TrackCount() == 0)
        return false;
    if (track == 0) {
        value = Duration(toc.leadOut - toc.starts.front());
        return true;
    }
    const int index = track - toc.firstTrack;
    if (index < 0 || index >= toc.TrackCount())
        return false;
    const auto i = static_cast<std::size_t>(index);
    const std::int64_t end = i + 1 < toc.starts.size() ? toc.starts[i + 1] : toc.leadOut;
    value = Duration(end - toc.starts[i]);
    return true;
}

bool CdAudioDevice::TrackPosition(int track, std::uint32_t& value)
{
    std::scoped_lock lock(mutex_);
    CdAudioToc toc;
    if (!drive_->ReadToc(toc))
        return false;
    const int at = track - toc.firstTrack;
    if (at < 0 || at >= toc.TrackCount())
        return false;
    value = FromFrames(toc.starts[static_cast<std::size_t>(at)], toc);
    return true;
}

bool CdAudioDevice::SetDoor(bool open)
{
    std::scoped_lock lock(mutex_);
    if (open)
        Finish(Aborted);
    return drive_->SetTray(open);
}

bool CdAudioDevice::IsDoorOpen(bool& open)
{
    std::scoped_lock lock(mutex_);
    open = drive_->Media() == CdMedia::TrayOpen;
    return true;
}

std::string CdAudioDevice::MediaIdentity()
{
    std::scoped_lock lock(mutex_);
    CdAudioToc toc;
    if (!drive_->ReadToc(toc) || toc.TrackCount() == 0)
        return {};
    std::uint32_t sum = 0;
    for (const std::int64_t start : toc.starts)
        sum += static_cast<std::uint32_t>(start / kCdFramesPerMinute) << 16 |
               static_cast<std::uint32_t>(start / kCdFramesPerSecond % 60) << 8 |
               static_cast<std::uint32_t>(start % kCdFramesPerSecond);
    if (toc.TrackCount() < 3)
        sum += static_cast<std::uint32_t>(toc.leadOut - toc.starts.front());
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(sum));
    return text;
}

void CdAudioDevice::Watch()
{
    std::unique_lock lock(mutex_);
    while (!quit_) {
        if (!pending_) {
            wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
            continue;
        }
        if (wake_.wait_for(lock, poll_, [this] { return quit_; }))
            break;
        CdPlayStatus status;
        if (pending_)
            ReadStatus(status);
    }
}

} // namespace vantrel::platform
