#include "engine/CdAudio.h"

#include "drive/CdToc.h"
#include "drive/KsCdCommands.h"

namespace vantrel {

// The component reads the device's notices by the interface's codes.
static_assert(std::uintptr_t{ICdAudio::Successful} == platform::CdAudioDevice::Successful &&
              std::uintptr_t{ICdAudio::Superseded} == platform::CdAudioDevice::Superseded &&
              std::uintptr_t{ICdAudio::Aborted} == platform::CdAudioDevice::Aborted &&
              std::uintptr_t{ICdAudio::Failure} == platform::CdAudioDevice::Failure);

namespace {

constexpr std::uint8_t kNotReady = 0x02, kMediumNotPresent = 0x3A, kTrayClosed = 0x01;

std::int64_t Frames(TCdAddress address)
{
    return AddressToFrames(address);
}

} // namespace

// ---------------------------------------------------------------------------------
// A drive reached by SCSI commands

platform::CdMedia TScsiCdAudioDrive::Media()
{
    const TScsiCommand command = cdb::TestUnitReady(drive_.Lun);
    const ScsiRequest request{command.cdb.data(), command.cdbLength, command.direction, nullptr, 0, command.timeoutMs};
    ScsiSense sense;
    if (transport_.Execute(drive_, request, sense))
        return platform::CdMedia::Present;
    if (sense.Key() != kNotReady || sense.Asc() != kMediumNotPresent)
        return platform::CdMedia::NotReady;
    // Only "tray closed" says the tray is in; a drive that does not say counts as open,
    // since opening and closing the tray is what brings a disc.
    return sense.Ascq() == kTrayClosed ? platform::CdMedia::NoDisc : platform::CdMedia::TrayOpen;
}

bool TScsiCdAudioDrive::ReadToc(platform::CdAudioToc& toc)
{
    TCdToc read;
    if (!ReadTocNormal(transport_, drive_, read))
        return false;
    toc = platform::CdAudioToc{};
    toc.firstTrack = read.firstTrack;
    for (int i = 0; i < TocTrackCount(read); ++i) {
        toc.starts.push_back(Frames(read.tracks[i].start));
        toc.audio.push_back(read.tracks[i].dataTrack == 0);
    }
    toc.leadOut = Frames(read.leadOut);
    return true;
}

bool TScsiCdAudioDrive::Play(std::int64_t from, std::int64_t to)
{
    return PlayRange(transport_, drive_, FramesToCdAddress(from), FramesToCdAddress(to));
}

bool TScsiCdAudioDrive::Stop()
{
    return ::vantrel::Stop(transport_, drive_);
}

bool TScsiCdAudioDrive::Pause()
{
    return ::vantrel::Pause(transport_, drive_);
}

bool TScsiCdAudioDrive::Resume()
{
    return ::vantrel::Resume(transport_, drive_);
}

bool TScsiCdAudioDrive::Status(platform::CdPlayStatus& status)
{
    // Status and position from one answer: a drive reports a finished play only once.
    const TScsiCommand command = cdb::ReadSubChannel(drive_.Lun, kSubChannelPollMs);
    std::uint8_t answer[16] = {};
    if (command.length > sizeof answer || !Send(transport_, drive_, command, answer))
        return false;
    switch (answer[1]) {
    case 0x11:
        status.state = platform::CdPlayState::Playing;
        break;
    case 0x12:
        status.state = platform::CdPlayState::Paused;
        break;
    case 0x13:
        status.state = platform::CdPlayState::Completed;
        break;
    case 0x14:
        status.state = platform::CdPlayState::Error;
        break;
    default:
        status.state = platform::CdPlayState::None;
        break;
    }
    status.position = Frames(TCdAddress{0, answer[9], answer[10], answer[11]});
    return true;
}

bool TScsiCdAudioDrive::SetTray(bool open)
{
    return open ? Eject(transport_, drive_) : Load(transport_, drive_);
}

// ---------------------------------------------------------------------------------
// The devices

TCdAudio::TCdAudio(TDriveSystem& system, std::chrono::milliseconds poll) : system_(system), poll_(poll) {}

bool TCdAudio::Open(const std::string& letter, std::uint32_t& deviceId)
{
    const LetterDrive* found = system_.Spti().Find(letter);
    if (!found)
        return false;
    std::unique_ptr<platform::ICdAudioDrive> drive;
    if (found->device) {
        TKsCdRom rom;
        rom.DriveLetter = letter;
        drive = std::make_unique<TScsiCdAudioDrive>(system_.Spti(), rom);
    } else {
        drive = platform::OpenCdromDrive(found->node);
    }
    if (!drive)
        return false;
    const std::uint32_t id = nextId_++;
    devices_.emplace(id, std::make_unique<platform::CdAudioDevice>(std::move(drive), id, poll_));
    deviceId = id;
    return true;
}

bool TCdAudio::Close(std::uint32_t deviceId)
{
    return devices_.erase(deviceId) > 0;
}

platform::CdAudioDevice* TCdAudio::Device(std::uint32_t deviceId)
{
    const auto it = devices_.find(deviceId);
    return it == devices_.end() ? nullptr : it->second.get();
}

bool TCdAudio::SetTimeFormatMsf(std::uint32_t deviceId)
{
    platform::CdAudioDevice* device = Device(deviceId);
    if (!device)
        return false;
    device->SetTimeFormat(platform::CdAudioDevice::TimeFormat::Msf);
    return true;
}

bool TCdAudio::Play(std::uint32_t deviceId, TCdAddress from, TCdAddress to, platform::MessageWindow* window)
{
    platform::CdAudioDevice* device = Device(deviceId);
    return device && device->PlayFrames(Frames(from), Frames(to) + 1, window);
}

bool TCdAudio::Stop(std::uint32_t deviceId)
{
    platform::CdAudioDevice* device = Device(deviceId);
    return device && device->Stop();
}

bool TCdAudio::Position(std::uint32_t deviceId, TCdAddress& position)
{
    platform::CdAudioDevice* device = Device(deviceId);
    std::int64_t frames = 0;
    if (!device || !device->PositionFrames(frames))
        return false;
    position = FramesToCdAddress(frames);
    return true;
}

bool TCdAudio::IsDoorOpen(std::uint32_t deviceId, bool& open)
{
    platform::CdAudioDevice* device = Device(deviceId);
    return device && device->IsDoorOpen(open);
}

bool TCdAudio::SetDoor(std::uint32_t deviceId, bool open)
{
    platform::CdAudioDevice* device = Device(deviceId);
    return device && device->SetDoor(open);
}

bool TCdAudio::MediaIdentity(std::uint32_t deviceId, std::string& identity)
{
    platform::CdAudioDevice* device = Device(deviceId);
    if (!device)
        return false;
    identity = device->MediaIdentity();
    return !identity.empty();
}

bool TCdAudio::TrackCount(std::uint32_t deviceId, int& count)
{
    platform::CdAudioDevice* device = Device(deviceId);
    platform::CdAudioToc toc;
    if (!device || !device->ReadToc(toc))
        return false;
    count = toc.TrackCount();
    return true;
}

bool TCdAudio::Track(std::uint32_t deviceId, int track, platform::CdAudioToc& toc, std::size_t& index)
{
    platform::CdAudioDevice* device = Device(deviceId);
    if (!device || !device->ReadToc(toc) || track < toc.firstTrack || track - toc.firstTrack >= toc.TrackCount())
        return false;
    index = static_cast<std::size_t>(track - toc.firstTrack);
    return true;
}

bool TCdAudio::TrackStart(std::uint32_t deviceId, int track, TCdAddress& start)
{
    platform::CdAudioToc toc;
    std::size_t i = 0;
    if (!Track(deviceId, track, toc, i))
        return false;
    start = FramesToCdAddress(toc.starts[i]);
    return true;
}

bool TCdAudio::TrackLength(std::uint32_t deviceId, int track, TCdAddress& length)
{
    platform::CdAudioToc toc;
    std::size_t i = 0;
    if (!Track(deviceId, track, toc, i))
        return false;
    const std::int64_t end = i + 1 < toc.starts.size() ? toc.starts[i + 1] : toc.leadOut;
    length = FramesToCdAddress(end - toc.starts[i]);
    return true;
}

bool TCdAudio::TrackIsAudio(std::uint32_t deviceId, int track, bool& audio)
{
    platform::CdAudioToc toc;
    std::size_t i = 0;
    if (!Track(deviceId, track, toc, i))
        return false;
    audio = toc.audio[i];
    return true;
}

} // namespace vantrel
