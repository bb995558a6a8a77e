// The system's CD-audio device: a drive that plays a disc through its own analog output,
// driven as a media device with time formats, play with an end notice posted to a window,
// stop, pause, status queries, the door and the disc's identity.
//
// A device reaches its drive through ICdAudioDrive: OpenCdromDrive gives the Linux side
// (CD-ROM ioctls on /dev/srN); the layers above supply one for an emulated drive.
//
// Threads: a device belongs to the thread that made it; every member is called there. Its
// watcher thread follows a play that asked for a notice and posts MM_MCINOTIFY (wParam the
// notice code, lParam the device identifier) to the window given with the play. That
// window must outlive the notice: it is posted, superseded, aborted, or dropped when the
// device is destroyed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::platform {

class MessageWindow;

// Positions are absolute frames of 1/75 s counted from 00:00:00 (the first track of a
// normal disc starts at frame 150).
inline constexpr std::int64_t kCdFramesPerSecond = 75;
inline constexpr std::int64_t kCdFramesPerMinute = 60 * kCdFramesPerSecond;

// The packed time formats of the device: minute + second*256 + frame*65536, and the same
// shifted up one byte behind a track number (track-relative).
constexpr std::uint32_t PackMsf(std::int64_t frames)
{
    const std::int64_t n = frames < 0 ? 0 : frames;
    return static_cast<std::uint32_t>(n / kCdFramesPerMinute % 256) |
           static_cast<std::uint32_t>(n / kCdFramesPerSecond % 60) << 8 |
           static_cast<std::uint32_t>(n % kCdFramesPerSecond) << 16;
}
constexpr std::int64_t UnpackMsf(std::uint32_t value)
{
    return (value & 0xFF) * kCdFramesPerMinute + (value >> 8 & 0xFF) * kCdFramesPerSecond + (value >> 16 & 0xFF);
}
constexpr std::uint32_t PackTmsf(int track, std::int64_t framesIntoTrack)
{
    return static_cast<std::uint32_t>(track & 0xFF) | PackMsf(framesIntoTrack) << 8;
}

// The table of contents as the device needs it.
struct CdAudioToc {
    int firstTrack = 0;
    std::vector<std::int64_t> starts; // of tracks firstTrack, firstTrack + 1, ...
    std::vector<bool> audio;          // per track: an audio track
    std::int64_t leadOut = 0;
    int TrackCount() const { return static_cast<int>(starts.size()); }
};

// What the drive says about the play (READ SUB-CHANNEL's audio status and position).
enum class CdPlayState { None, Playing, Paused, Completed, Error };
struct CdPlayStatus {
    CdPlayState state = CdPlayState::None;
    std::int64_t position = 0;
};
enum class CdMedia { Present, NoDisc, TrayOpen, NotReady };

// One drive as the device uses it. Called on the device's owner and watcher threads, one
// call at a time.
class ICdAudioDrive {
public:
    virtual ~ICdAudioDrive() = default;
    virtual CdMedia Media() = 0;
    virtual bool ReadToc(CdAudioToc& toc) = 0;
    virtual bool Play(std::int64_t from, std::int64_t to) = 0; // to exclusive
    virtual bool Stop() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool Status(CdPlayStatus& status) = 0;
    virtual bool SetTray(bool open) = 0;
};

// The Linux drive behind a block device node such as /dev/sr0; null when the node cannot
// be opened or is no CD-ROM device.
std::unique_ptr<ICdAudioDrive> OpenCdromDrive(const std::string& node);

class CdAudioDevice {
public:
    enum class TimeFormat { Milliseconds, Msf, Tmsf };
    enum class Mode { NotReady, Open, Stopped, Playing, Paused };
    enum Notify : std::uintptr_t { Successful = 1, Superseded = 2, Aborted = 4, Failure = 8 };

    // poll: how often the watcher asks the drive about a play that awaits its end notice.
    CdAudioDevice(std::unique_ptr<ICdAudioDrive> drive, std::uint32_t id,
                  std::chrono::milliseconds poll = std::chrono::milliseconds(100));
    ~CdAudioDevice();
    CdAudioDevice(const CdAudioDevice&) = delete;
    CdAudioDevice& operator=(const CdAudioDevice&) = delete;

    std::uint32_t Id() const { return id_; }
    // Milliseconds when opened, as a media device starts.
    void SetTimeFormat(TimeFormat format);
    TimeFormat GetTimeFormat() const;

    // Plays from `from` up to `to` (where play stops; the end of the disc when absent), both
    // in the time format. A notice still awaited from an earlier play is superseded (this
    // play asks for one) or aborted (it does not). With a window, the end of this play is
    // posted there: Successful at its end, Failure when the drive stops with an error or
    // cannot be asked any more. False for a range outside the disc or a refused play.
    bool Play(std::uint32_t from, std::optional<std::uint32_t> to, MessageWindow* notify);
    // The same in absolute frames, end exclusive, without checking against the disc.
    bool PlayFrames(std::int64_t from, std::int64_t to, MessageWindow* notify);
    // Each aborts an awaited notice.
    bool Stop();
    bool Pause();
    // Continues a paused play; with a window its end is posted there.
    bool Resume(MessageWindow* notify);

    // Status, in the time format where it is a position or length.
    bool Position(std::uint32_t& value);
    bool PositionFrames(std::int64_t& frames);
    Mode GetMode();
    bool MediaPresent();
    int NumberOfTracks();          // 0 without a readable disc
    bool ReadToc(CdAudioToc& toc); // the table of contents as the drive reports it now
    // track 0: the whole disc, from the first track to the lead-out. Lengths are durations:
    // milliseconds, or minute-second-frame (also in the track format).
    bool Length(int track, std::uint32_t& value);
    bool TrackPosition(int track, std::uint32_t& value); // where the track starts
    // Stops a play (aborting its notice) and opens the tray, or closes it.
    bool SetDoor(bool open);
    bool IsDoorOpen(bool& open);
    // The disc's identity: the sum of the tracks' starts packed as minute*65536 +
    // second*256 + frame, plus the disc's length in frames when it has fewer than three
    // tracks, in upper-case hexadecimal. Empty without a readable disc.
    std::string MediaIdentity();

private:
    struct Pending {
        MessageWindow* window = nullptr;
        std::int64_t end = 0;
    };
    std::optional<std::int64_t> ToFrames(std::uint32_t value, const CdAudioToc* toc) const;
    std::uint32_t FromFrames(std::int64_t frames, const CdAudioToc& toc) const;
    std::uint32_t Duration(std::int64_t frames) const;
    // Both with mutex_ held.
    void Finish(Notify code);
    bool ReadStatus(CdPlayStatus& status);
    void Watch();

    const std::unique_ptr<ICdAudioDrive> drive_;
    const std::uint32_t id_;
    const std::chrono::milliseconds poll_;

    mutable std::mutex mutex_; // the drive, the pending notice, the format
    std::condition_variable wake_;
    TimeFormat format_ = TimeFormat::Milliseconds;
    std::optional<Pending> pending_;
    std::int64_t lastEnd_ = 0; // end of the last play, for a resume
    int failures_ = 0;         // status reads failed in a row while a notice is awaited
    bool quit_ = false;
    std::thread watcher_;
};

} // namespace vantrel::platform
