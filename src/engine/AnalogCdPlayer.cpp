#include "engine/AnalogCdPlayer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>

#include "drive/KsCdCommands.h"
#include "drive/KsParagraphBoundaryBuffer.h"

namespace vantrel {

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kStatusCompleted = 0x13, kStatusError = 0x14, kStatusNone = 0x15;
// A drive whose status cannot be read for this long (a disc pulled out, a drive gone) has
// stopped playing as far as anyone can tell.
constexpr milliseconds kStatusGiveUp{2000};
// How long Stop waits for the thread to let go of the drive once it has stopped.
constexpr std::uint32_t kStopJoinMs = 5000;
constexpr std::uint8_t kFullVolume = 255;

std::uint8_t* Bytes(TKsParagraphBoundaryBuffer& buffer)
{
    return reinterpret_cast<std::uint8_t*>(buffer.Data());
}

} // namespace

TKsAnalogCdPlayer::TKsAnalogCdPlayer(TDriveSystem& system) : system_(system) {}

TKsAnalogCdPlayer::~TKsAnalogCdPlayer()
{
    {
        std::scoped_lock lock(notifyMutex_);
        silenced_ = true;
    }
    if (!thread_.joinable())
        return;
    if (!Stop(true)) {
        // The thread does not answer in time: end its loop by hand.
        state_ = asIdle;
        requests_.Post(kRequestStop);
    }
    JoinThread();
}

// ---- configuration ----

bool TKsAnalogCdPlayer::SetNotify(TDcdNotify notify, void* context)
{
    return Configure([&] {
        notify_ = notify;
        context_ = context;
    });
}

bool TKsAnalogCdPlayer::SetCdg(bool enabled)
{
    return Configure([&] { cdg_ = enabled; });
}

bool TKsAnalogCdPlayer::SetFirstWait(std::uint32_t ms)
{
    return Configure([&] { firstWait_ = ms; });
}

bool TKsAnalogCdPlayer::SetInterval(std::uint32_t ms)
{
    return Configure([&] { interval_ = ms; });
}

bool TKsAnalogCdPlayer::SetCdgReadAtOnce(std::uint32_t sectors)
{
    return Configure([&] { cdgReadAtOnce_ = sectors; });
}

bool TKsAnalogCdPlayer::SetCdgDispAtOnce(std::uint32_t sectors)
{
    return Configure([&] { cdgDispAtOnce_ = sectors; });
}

bool TKsAnalogCdPlayer::SetModeCmdType(std::int32_t type)
{
    return Configure([&] {
        modeCmdType_ = type;
        modeCmds_ = type >= 0;
    });
}

bool TKsAnalogCdPlayer::SetDrive(int drive, Transport transport, std::int64_t start, std::int64_t end)
{
    const TKsCdRom* rom = system_.Roms().GetDrive(drive);
    if (!rom)
        return false;
    IScsiTransport* path =
        transport == Transport::Aspi ? &system_.AspiTransport() : static_cast<IScsiTransport*>(&system_.Spti());
    return Configure([&] {
        drive_ = *rom;
        transport_ = path;
        transportKind_ = transport;
        start_ = start;
        end_ = end;
    });
}

// ---- always accepted ----

bool TKsAnalogCdPlayer::SetSwap(bool swap)
{
    swap_ = swap;
    return SetStereo(stereo_);
}

bool TKsAnalogCdPlayer::SetVolumes(std::uint8_t left, std::uint8_t right)
{
    left_ = left;
    right_ = right;
    volumeChanged_ = true;
    return true;
}

bool TKsAnalogCdPlayer::SetStereo(StereoModes mode)
{
    if (mode > smSide)
        return false;
    if (mode == smSide)
        mode = smStereo; // the drive cannot subtract the channels
    if (!WaitIdle())
        return false;
    const State state = state_;
    if (state == asPlaying || state == asPaused) {
        const Sent sent = Request(kRequestStereo, mode);
        if (sent != Sent::NoWorker)
            return sent == Sent::Handled;
    }
    stereo_ = mode;
    return true;
}

// ---- control ----

bool TKsAnalogCdPlayer::Start()
{
    if (!transport_ || state_ != asIdle)
        return false;
    if (thread_.joinable()) {
        if (!finished_.IsSet())
            return false;
        JoinThread();
    }
    idle_.ResetEvent();
    loop_.ResetEvent();
    finished_.ResetEvent();
    failed_ = false;
    requests_.Open();
    try {
        thread_ = std::thread(&TKsAnalogCdPlayer::ThreadMain, this);
    } catch (const std::system_error&) {
        requests_.Close();
        finished_.Set();
        idle_.Set();
        return false;
    }
    return true;
}

bool TKsAnalogCdPlayer::Stop(bool sendStop)
{
    if (!thread_.joinable())
        return true;
    if (finished_.IsSet()) {
        JoinThread();
        return true;
    }
    if (!WaitIdle())
        return false;
    // The thread must be inside its loop, where it serves requests.
    if (!loop_.WaitFor(milliseconds(firstWait_ + 500)) && requests_.Serving())
        return false;
    if (Request(kRequestStop, sendStop ? 1 : 0) == Sent::TimedOut)
        return false;
    return WaitThread(kStopJoinMs);
}

bool TKsAnalogCdPlayer::Pause()
{
    if (!WaitIdle())
        return false;
    return state_ != asPlaying || Request(kRequestPause, 0) != Sent::TimedOut;
}

bool TKsAnalogCdPlayer::Resume()
{
    if (!WaitIdle())
        return false;
    return state_ != asPaused || Request(kRequestResume, 0) != Sent::TimedOut;
}

bool TKsAnalogCdPlayer::Seek(std::int64_t frames)
{
    if (!WaitIdle())
        return false;
    const State state = state_;
    return (state == asPlaying || state == asPaused) &&
           Request(kRequestSeek, static_cast<std::intptr_t>(frames)) == Sent::Handled;
}

bool TKsAnalogCdPlayer::WaitIdle()
{
    return idle_.WaitFor(milliseconds(std::int64_t{firstWait_} + 500));
}

bool TKsAnalogCdPlayer::WaitThread(std::uint32_t ms)
{
    if (!thread_.joinable())
        return true;
    if (!finished_.WaitFor(milliseconds(ms)))
        return false;
    JoinThread();
    return true;
}

TKsAnalogCdPlayer::Sent TKsAnalogCdPlayer::Request(std::uint32_t msg, std::intptr_t argument)
{
    return requests_.Send(msg, argument, milliseconds(std::int64_t{firstWait_} + interval_ + 100));
}

void TKsAnalogCdPlayer::Notify(int code, std::intptr_t param)
{
    std::scoped_lock lock(notifyMutex_);
    if (notify_ && !silenced_)
        notify_(code, param, context_);
}

void TKsAnalogCdPlayer::JoinThread()
{
    if (thread_.joinable())
        thread_.join();
    requests_.Forget();
}

// ---------------------------------------------------------------------------------
// The watching thread

void TKsAnalogCdPlayer::ThreadMain()
{
    Run();
    idle_.Set(); // whatever way the play ended, nobody waits for its start any more
    requests_.Close(); // frees those who wait for requests that will never be served
    finished_.Set();
}

void TKsAnalogCdPlayer::Sleep(std::uint32_t ms) const
{
    std::this_thread::sleep_for(milliseconds(ms));
}

bool TKsAnalogCdPlayer::PlayFrom(std::int64_t frame)
{
    return PlayRange(*transport_, drive_, FramesToCdAddress(frame), FramesToCdAddress(end_));
}

void TKsAnalogCdPlayer::SendRouting(StereoModes mode)
{
    if (modeCmds_)
        SetChannels(*transport_, drive_, mode, swap_, modeCmdType_);
}

void TKsAnalogCdPlayer::SendVolumes()
{
    if (modeCmds_)
        SetPortVolumes(*transport_, drive_, left_, right_, modeCmdType_);
}

void TKsAnalogCdPlayer::RestoreOutput()
{
    if (!modeCmds_)
        return;
    SetChannels(*transport_, drive_, smStereo, false, modeCmdType_);
    SetPortVolumes(*transport_, drive_, kFullVolume, kFullVolume, modeCmdType_);
}

void TKsAnalogCdPlayer::Run()
{
    // CD+G needs a read of at least one sector and a hand-over of at least one read.
    const bool cdg = cdg_ && cdgReadAtOnce_ != 0 && cdgDispAtOnce_ >= cdgReadAtOnce_;
    TKsParagraphBoundaryBuffer read, collection;
    if (cdg) {
        read = TKsParagraphBoundaryBuffer(std::size_t{cdgReadAtOnce_} * kSubChannelBytes);
        collection = TKsParagraphBoundaryBuffer((std::size_t{cdgDispAtOnce_} + cdgReadAtOnce_) * kSubChannelBytes);
        if (read.Empty() || collection.Empty()) {
            idle_.Set();
            Notify(dnError, 0);
            return;
        }
    }
    std::size_t collected = 0;

    const bool perLun = transportKind_ == Transport::Aspi;
    LockTray(*transport_, drive_, true, perLun);
    SendRouting(stereo_);
    SendVolumes();
    volumeChanged_ = false;

    if (!PlayFrom(start_)) {
        LockTray(*transport_, drive_, false, perLun);
        RestoreOutput();
        idle_.Set();
        Notify(dnEnd, 0);
        return;
    }
    Notify(dnPosition, 0);
    Notify(dnRunning, 0);
    state_ = asPlaying;
    seekPending_ = false;
    Sleep(firstWait_);
    idle_.Set();

    bool unread = false;  // the status could not be read since unreadSince
    Clock::time_point unreadSince{};
    while (state_ != asIdle) {
        loop_.Set();
        if (seekPending_) {
            Sleep(interval_);
            seekPending_ = false;
        }
        if (volumeChanged_.exchange(false))
            SendVolumes();
        const std::uint8_t status = AudioStatus(*transport_, drive_);
        if (status == kStatusCompleted || status == kStatusError || status == kStatusNone)
            break;
        if (status != 0) {
            unread = false;
        } else if (!unread) {
            unread = true;
            unreadSince = Clock::now();
        } else if (Clock::now() - unreadSince >= kStatusGiveUp) {
            break;
        }
        Sleep(interval_);
        if (cdg)
            ReadCdg(read, collection, collected);
        if (const auto message = requests_.Queue().Peek(true))
            Handle(*message);
        while (state_ == asPaused)
            Handle(requests_.Queue().Get());
    }

    LockTray(*transport_, drive_, false, perLun);
    if (state_ != asIdle || failed_) {
        RestoreOutput();
        state_ = asIdle;
        Notify(dnEnd, 0);
    }
}

void TKsAnalogCdPlayer::ReadCdg(TKsParagraphBoundaryBuffer& read, TKsParagraphBoundaryBuffer& collection,
                                std::size_t& collected)
{
    // A failed read only skips graphics; the play goes on.
    const std::size_t got =
        ReadSubCode(*transport_, drive_, cdgReadAtOnce_, read) ? std::size_t{cdgReadAtOnce_} * kSubChannelBytes : 0;
    const std::uint8_t* in = Bytes(read);
    std::uint8_t* packs = Bytes(collection);
    // Each byte carries one bit each of P and Q above the six-bit R-W symbol.
    for (std::size_t i = 0; i < got; ++i)
        packs[collected + i] = static_cast<std::uint8_t>(in[i] & 0x3F);
    collected += got;
    const std::size_t handOver = std::size_t{cdgDispAtOnce_} * kSubChannelBytes;
    while (collected >= handOver) {
        Notify(dnCdgCount, static_cast<std::intptr_t>(std::size_t{cdgDispAtOnce_} * 4));
        Notify(dnCdgPacks, reinterpret_cast<std::intptr_t>(packs));
        std::memmove(packs, packs + handOver, collected - handOver);
        collected -= handOver;
    }
}

void TKsAnalogCdPlayer::Handle(const platform::Message& message)
{
    if (state_ != asIdle) {
        switch (message.msg) {
        case kRequestStop:
            if (message.lParam != 0) {
                ::vantrel::Stop(*transport_, drive_);
                RestoreOutput();
            }
            state_ = asIdle;
            Notify(dnPosition, 0);
            break;
        case kRequestPause: {
            const bool paused = ::vantrel::Pause(*transport_, drive_);
            seekPending_ = false;
            state_ = paused ? asPaused : asIdle;
            failed_ = !paused;
            break;
        }
        case kRequestResume: {
            const bool resumed = seekPending_ ? PlayFrom(pendingPosition_) : ::vantrel::Resume(*transport_, drive_);
            state_ = resumed ? asPlaying : asIdle;
            failed_ = !resumed;
            if (resumed)
                Sleep(interval_);
            break;
        }
        case kRequestSeek: {
            // Inside the range, so that the drive still plays to the end and reports it.
            const std::int64_t target =
                std::clamp<std::int64_t>(start_ + message.lParam, start_, std::max(start_, end_ - 1));
            const std::intptr_t frames = static_cast<std::intptr_t>(target - start_);
            if (state_ == asPaused) {
                seekPending_ = true;
                pendingPosition_ = target;
                Notify(dnPosition, frames);
            } else if (PlayFrom(target)) {
                Notify(dnPosition, frames);
                Sleep(interval_);
            } else {
                state_ = asIdle;
                failed_ = true;
            }
            break;
        }
        case kRequestStereo: {
            const auto mode = static_cast<StereoModes>(message.lParam);
            if (!modeCmds_ || SetChannels(*transport_, drive_, mode, swap_, modeCmdType_))
                stereo_ = mode;
            break;
        }
        default:
            break;
        }
    }
    platform::ThreadMessageQueue::Complete(message);
}

} // namespace vantrel
