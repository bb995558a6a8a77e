// What the player component needs from the parts below it: the drive list, the SCSI
// operations it sends itself, the system's CD-audio device and the analog and digital
// playback engines. Each is a narrow interface so the real parts and test doubles fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/CdAddress.h"
#include "drive/CdToc.h"
#include "drive/KsCdCommands.h"
#include "dsp/NormParams.h"
#include "engine/PlayerTypes.h"

namespace vantrel {

namespace platform {
class MessageWindow;
}

// The drives the player can use, with the ways each can be reached.
class ICdDriveList {
public:
    virtual ~ICdDriveList() = default;
    // selector: 0 both transports, 1 no SPTI, 2 no ASPI, 5 neither. Returns the count.
    virtual int Scan(int selector, bool addNonLettered) = 0;
    virtual int Count() const = 0;
    virtual std::string Letter(int index) const = 0; // like "E:", empty when it has none
    virtual bool MciAvail(int index) const = 0;
    virtual bool AspiAvail(int index) const = 0;
    virtual bool SptiAvail(int index) const = 0;
    virtual bool AspiLoaded() const = 0;    // any ASPI host adapter was found
    virtual bool SptiAvailable() const = 0; // SPTI can be used at all
};

// How a Q sub-channel read went. Refused: the drive answered ILLEGAL REQUEST (a data
// sector for an audio read, the gap between two sessions, a command it lacks), so the
// drive works but cannot read that frame that way. Failed: anything else (a medium or
// hardware error, no answer within the time-out): the drive cannot be relied on.
enum class QRead : std::uint8_t { Ok, Refused, Failed };

// The SCSI operations the component sends to a drive itself. The table-of-contents
// reads are also called from the analysis worker while the component's thread waits.
class IDriveCommands {
public:
    virtual ~IDriveCommands() = default;
    virtual bool IsTrayLoaded(int drive, Transport transport) = 0;
    virtual bool EjectTray(int drive, Transport transport) = 0;
    virtual bool LoadTray(int drive, Transport transport) = 0;
    // Plays start up to (not including) end, absolute frames: PLAY AUDIO MSF, else PLAY AUDIO(12).
    virtual bool PlayRange(int drive, Transport transport, std::int64_t start, std::int64_t end) = 0;
    // The track-relative position of the current play (READ SUB-CHANNEL).
    virtual bool ReadTrackPosition(int drive, Transport transport, TCdAddress& relative) = 0;
    // The drive's read speeds in kilobytes per second, at most size of them.
    virtual int GetReadSpeeds(int drive, Transport transport, int modeCmdType, int size, std::uint32_t* speeds) = 0;
    // The table of contents in normal form, or in advanced form with sessions (bcd: the
    // drive reports its full table in BCD).
    virtual bool ReadTocNormal(int drive, Transport transport, TCdToc& toc) = 0;
    virtual bool ReadTocAdvanced(int drive, Transport transport, bool bcd, TCdToc& toc) = 0;
    // The raw CD-Text answer; length is what it needs, known even when size is too small.
    virtual bool ReadCdText(int drive, Transport transport, std::uint8_t* buffer, std::size_t size,
                            std::size_t& length) = 0;
    // The Q of absolute frame `frames` by method 1 (READ CDDA), 2 (READ CD) or 3 (SEEK and
    // READ SUB-CHANNEL).
    virtual QRead ReadQ(int drive, Transport transport, int method, std::int64_t frames, TQRecord& record) = 0;
    // Keeps the tray shut while an analysis reads.
    virtual bool LockTray(int drive, Transport transport, bool lock) = 0;
};

// The system's CD-audio device (MCI "cdaudio"). Plays report their end by posting
// MM_MCINOTIFY to the given window with 1 (success), 8 (failure) or another code
// (aborted, superseded).
class ICdAudio {
public:
    enum Notify : std::uintptr_t { Successful = 1, Superseded = 2, Aborted = 4, Failure = 8 };

    virtual ~ICdAudio() = default;
    virtual bool Open(const std::string& letter, std::uint32_t& deviceId) = 0;
    virtual bool Close(std::uint32_t deviceId) = 0;
    virtual bool SetTimeFormatMsf(std::uint32_t deviceId) = 0;
    // Plays from..to, both included, notifying window when it ends.
    virtual bool Play(std::uint32_t deviceId, TCdAddress from, TCdAddress to, platform::MessageWindow* window) = 0;
    virtual bool Stop(std::uint32_t deviceId) = 0;
    virtual bool Position(std::uint32_t deviceId, TCdAddress& position) = 0; // absolute
    virtual bool IsDoorOpen(std::uint32_t deviceId, bool& open) = 0;
    virtual bool SetDoor(std::uint32_t deviceId, bool open) = 0;
    // The disc as the device reports it (the table-of-contents reads): its media
    // identity as text, the track count, each track's absolute start and its length, and
    // whether a track is audio. Tracks count from 1. A device that cannot tell fails.
    virtual bool MediaIdentity(std::uint32_t, std::string&) { return false; }
    virtual bool TrackCount(std::uint32_t, int&) { return false; }
    virtual bool TrackStart(std::uint32_t, int, TCdAddress&) { return false; }
    virtual bool TrackLength(std::uint32_t, int, TCdAddress&) { return false; }
    virtual bool TrackIsAudio(std::uint32_t, int, bool&) { return false; }
    // The serial number of the volume in the drive with that letter; 0 when there is none.
    virtual std::uint32_t VolumeSerial(const std::string&) { return 0; }
};

// The analog engine: the drive plays on its own, a thread follows it.
class IAnalogEngine {
public:
    virtual ~IAnalogEngine() = default;
    virtual bool SetNotify(TDcdNotify notify, void* context) = 0;
    virtual bool SetCdg(bool enabled) = 0;
    virtual bool SetFirstWait(std::uint32_t ms) = 0;
    virtual bool SetInterval(std::uint32_t ms) = 0;
    virtual bool SetCdgReadAtOnce(std::uint32_t sectors) = 0;
    virtual bool SetCdgDispAtOnce(std::uint32_t sectors) = 0;
    virtual bool SetModeCmdType(std::int32_t type) = 0;
    virtual bool SetDrive(int drive, Transport transport, std::int64_t start, std::int64_t end) = 0;
    virtual bool SetSwap(bool swap) = 0;
    virtual bool SetVolumes(std::uint8_t left, std::uint8_t right) = 0;
    virtual bool SetStereo(StereoModes mode) = 0;
    virtual bool Start() = 0;
    virtual bool Stop(bool sendStop) = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool Seek(std::int64_t frames) = 0;
    virtual bool WaitIdle() = 0;
    virtual bool WaitThread(std::uint32_t ms) = 0;
};

// The digital engine: reads the audio, runs the signal chain, feeds an output.
// Configuration setters refuse while its thread runs.
class IDigitalEngine {
public:
    virtual ~IDigitalEngine() = default;
    virtual bool SetNotify(TDcdNotify notify, void* context) = 0;
    virtual bool SetOutputKind(int kind) = 0; // 0 waveOut, 1 DirectSound, 2 ASIO, 3 WAV file
    virtual bool SetDevice(std::uint32_t index) = 0;
    virtual bool SetFileName(const std::string& fileName) = 0;
    virtual bool SetInternalFormat(int code) = 0;
    virtual bool SetOutputFormat(int code, bool extensible) = 0;
    virtual bool SetAc3(bool passThrough, bool force48k) = 0;
    virtual bool SetAsio(int bufferSize, int channelShift, int priority, bool directMonitor) = 0;
    virtual bool SetBuffers(std::uint32_t lengthMs, std::uint8_t count) = 0;
    virtual bool SetPriority(int priority) = 0;
    virtual bool SetRipMethod(RipMethods method) = 0;
    virtual bool SetSubCodeMode(SubCodeModes mode) = 0;
    virtual bool SetSyncHeadPos(bool on) = 0;
    virtual bool SetMuteGap(bool on) = 0;
    virtual bool SetReadAtOnce(std::uint8_t frames) = 0;
    virtual bool SetOverlaps(std::uint8_t overlaps, std::uint8_t compares) = 0;
    virtual bool SetOffset(std::int32_t samples) = 0;
    virtual bool SetMinFrame(std::int64_t frame) = 0;
    virtual bool SetMaxFrame(std::int64_t frame) = 0;
    virtual bool SetReadSpeedEnabled(bool on) = 0;
    virtual bool SetReadSpeed(std::uint32_t kbPerSecond) = 0;
    virtual bool SetWaitTime(std::uint32_t ms) = 0;
    virtual bool SetSpinUpTime(std::int32_t ms) = 0;
    virtual bool SetModeCmdType(std::int32_t type) = 0;
    virtual bool SetCdg(bool on) = 0;
    virtual bool SetRs(bool on) = 0;
    virtual bool SetCdgSync(bool on) = 0;
    virtual bool SetCdgSyncOffset(std::uint8_t offset) = 0;
    virtual bool SetDrive(int drive, Transport transport, std::int64_t startFrame, std::int64_t endFrame) = 0;
    virtual bool SetGain(std::int32_t percent) = 0;
    virtual bool SetDeEmphasis(bool on) = 0;
    // Always accepted.
    virtual bool SetVolumes(float left, float right) = 0;
    virtual bool SetNormalizer(const TNormParams& params) = 0;
    virtual bool SetSpeedEx(double ratio) = 0;
    virtual bool SetRandomSpeed(int maxCode, int minCode, int interval) = 0;
    virtual float GetEqLevel() = 0;
    virtual bool SetEqLevel(float level) = 0;
    virtual int GetEqBalance() = 0;
    virtual bool SetEqBalance(int balance) = 0;
    virtual bool SetEqParams(int band, float gain, float q, float frequency) = 0;
    virtual bool GetEqEnabled() = 0;
    virtual bool SetEqEnabled(bool on) = 0;
    // Control.
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool Seek(std::int64_t frames) = 0;
    virtual bool SetStereo(StereoModes mode) = 0;
    virtual bool SetSpeed(int code) = 0;
    virtual bool SetReverse(bool reverse) = 0;
    virtual bool WaitIdle(std::uint32_t ms) = 0;
};

} // namespace vantrel
