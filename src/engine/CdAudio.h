// The player component's CD-audio devices over the drive system: a letter names a drive of
// the letter path; a real drive is played through the CD-ROM ioctls of its /dev/srN, an
// emulated one through its own analog play, sent as SCSI commands over the letter path.
//
// Threads: the component's thread calls everything; each open device has a watcher thread
// that posts the end notices. The drive system must outlive this object.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "drive/DriveSystem.h"
#include "engine/EngineInterfaces.h"
#include "platform/CdAudioDevice.h"

namespace vantrel {

// The device's view of a drive reached by SCSI commands: status from READ SUB-CHANNEL, the
// table of contents from READ TOC, the tray from TEST UNIT READY's sense.
class TScsiCdAudioDrive : public platform::ICdAudioDrive {
public:
    // transport must outlive the drive.
    TScsiCdAudioDrive(IScsiTransport& transport, const TKsCdRom& drive) : transport_(transport), drive_(drive) {}

    platform::CdMedia Media() override;
    bool ReadToc(platform::CdAudioToc& toc) override;
    bool Play(std::int64_t from, std::int64_t to) override;
    bool Stop() override;
    bool Pause() override;
    bool Resume() override;
    bool Status(platform::CdPlayStatus& status) override;
    bool SetTray(bool open) override;

private:
    IScsiTransport& transport_;
    TKsCdRom drive_;
};

class TCdAudio : public ICdAudio {
public:
    // poll: how often a playing device asks its drive whether the play has ended.
    explicit TCdAudio(TDriveSystem& system, std::chrono::milliseconds poll = std::chrono::milliseconds(100));

    // Fails for a letter the letter path does not have, or a real drive whose node cannot be
    // opened as a CD-ROM device. Identifiers start at 1 and are never reused.
    bool Open(const std::string& letter, std::uint32_t& deviceId) override;
    // Drops the device's awaited notice; the drive keeps doing what it does.
    bool Close(std::uint32_t deviceId) override;
    bool SetTimeFormatMsf(std::uint32_t deviceId) override;
    // from..to both included; the drive must hold a disc with that range.
    bool Play(std::uint32_t deviceId, TCdAddress from, TCdAddress to, platform::MessageWindow* window) override;
    bool Stop(std::uint32_t deviceId) override;
    bool Position(std::uint32_t deviceId, TCdAddress& position) override;
    bool IsDoorOpen(std::uint32_t deviceId, bool& open) override;
    bool SetDoor(std::uint32_t deviceId, bool open) override;
    // The disc through the device; tracks by their numbers on the disc, lengths as
    // minute-second-frame durations. The volume serial is left to the file system side.
    bool MediaIdentity(std::uint32_t deviceId, std::string& identity) override;
    bool TrackCount(std::uint32_t deviceId, int& count) override;
    bool TrackStart(std::uint32_t deviceId, int track, TCdAddress& start) override;
    bool TrackLength(std::uint32_t deviceId, int track, TCdAddress& length) override;
    bool TrackIsAudio(std::uint32_t deviceId, int track, bool& audio) override;

    // The open device with every status query and control of its own; null for an
    // identifier that is not open.
    platform::CdAudioDevice* Device(std::uint32_t deviceId);

private:
    // The table of contents of an open device and the index of track in it.
    bool Track(std::uint32_t deviceId, int track, platform::CdAudioToc& toc, std::size_t& index);

    TDriveSystem& system_;
    const std::chrono::milliseconds poll_;
    std::map<std::uint32_t, std::unique_ptr<platform::CdAudioDevice>> devices_;
    std::uint32_t nextId_ = 1;
};

} // namespace vantrel
