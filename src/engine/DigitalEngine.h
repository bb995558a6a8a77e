// The player component's digital engine over the digital player: the drive index and path
// the component picks are resolved to the drive and transport of the drive system, and
// everything else is handed through.
#pragma once

#include <cstdint>
#include <string>

#include "digital/DigitalCdPlayer.h"
#include "drive/DriveSystem.h"
#include "engine/EngineInterfaces.h"

namespace vantrel {

// Same threads as TDigitalCdPlayer: the component's thread calls, the notification
// function runs on the reading thread. The drive system must outlive the engine.
class TDigitalEngine : public IDigitalEngine {
public:
    explicit TDigitalEngine(TDriveSystem& system) : system_(system) {}

    bool SetNotify(TDcdNotify notify, void* context) override { return player_.SetNotify(notify, context); }
    bool SetOutputKind(int kind) override { return player_.SetOutputKind(kind); }
    bool SetDevice(std::uint32_t index) override { return player_.SetDevice(static_cast<std::int32_t>(index)); }
    bool SetFileName(const std::string& fileName) override { return player_.SetFileName(fileName); }
    bool SetInternalFormat(int code) override { return player_.SetInternalFormat(code); }
    bool SetOutputFormat(int code, bool extensible) override { return player_.SetOutputFormat(code, extensible); }
    bool SetAc3(bool passThrough, bool force48k) override { return player_.SetAc3(passThrough, force48k); }
    bool SetAsio(int bufferSize, int channelShift, int priority, bool directMonitor) override
    {
        return player_.SetAsio(bufferSize, channelShift, priority, directMonitor);
    }
    bool SetBuffers(std::uint32_t lengthMs, std::uint8_t count) override { return player_.SetBuffers(lengthMs, count); }
    bool SetPriority(int priority) override { return player_.SetPriority(priority); }
    bool SetRipMethod(RipMethods method) override { return player_.SetRipMethod(method); }
    bool SetSubCodeMode(SubCodeModes mode) override { return player_.SetSubCodeMode(mode); }
    bool SetSyncHeadPos(bool on) override { return player_.SetSyncHeadPos(on); }
    bool SetMuteGap(bool on) override { return player_.SetMuteGap(on); }
    bool SetReadAtOnce(std::uint8_t frames) override { return player_.SetReadAtOnce(frames); }
    bool SetOverlaps(std::uint8_t overlaps, std::uint8_t compares) override
    {
        return player_.SetOverlaps(overlaps, compares);
    }
    bool SetOffset(std::int32_t samples) override { return player_.SetOffset(samples); }
    bool SetMinFrame(std::int64_t frame) override { return player_.SetMinFrame(frame); }
    bool SetMaxFrame(std::int64_t frame) override { return player_.SetMaxFrame(frame); }
    bool SetReadSpeedEnabled(bool on) override { return player_.SetReadSpeedEnabled(on); }
    bool SetReadSpeed(std::uint32_t kbPerSecond) override { return player_.SetReadSpeed(kbPerSecond); }
    bool SetWaitTime(std::uint32_t ms) override { return player_.SetWaitTime(ms); }
    // The component hands over the drive's spin-up time, which is in seconds.
    bool SetSpinUpTime(std::int32_t seconds) override { return player_.SetSpinUpTime(seconds); }
    bool SetModeCmdType(std::int32_t type) override { return player_.SetModeCmdType(type); }
    bool SetCdg(bool on) override { return player_.SetCdg(on); }
    bool SetRs(bool on) override { return player_.SetRs(on); }
    bool SetCdgSync(bool on) override { return player_.SetCdgSync(on); }
    bool SetCdgSyncOffset(std::uint8_t offset) override { return player_.SetCdgSyncOffset(offset); }
    // False for a drive index the drive list does not have.
    bool SetDrive(int drive, Transport transport, std::int64_t startFrame, std::int64_t endFrame) override;
    bool SetGain(std::int32_t percent) override { return player_.SetGain(percent); }
    bool SetDeEmphasis(bool on) override { return player_.SetDeEmphasis(on); }

    bool SetVolumes(float left, float right) override { return player_.SetVolumes(left, right); }
    bool SetNormalizer(const TNormParams& params) override { return player_.SetNormalizer(params); }
    bool SetSpeedEx(double ratio) override { return player_.SetSpeedEx(ratio); }
    bool SetRandomSpeed(int maxCode, int minCode, int interval) override
    {
        return player_.SetRandomSpeed(maxCode, minCode, interval);
    }
    float GetEqLevel() override { return player_.GetEqLevel(); }
    bool SetEqLevel(float level) override { return player_.SetEqLevel(level); }
    int GetEqBalance() override { return player_.GetEqBalance(); }
    bool SetEqBalance(int balance) override { return player_.SetEqBalance(balance); }
    bool SetEqParams(int band, float gain, float q, float frequency) override
    {
        return player_.SetEqParams(band, gain, q, frequency);
    }
    bool GetEqEnabled() override { return player_.GetEqEnabled(); }
    bool SetEqEnabled(bool on) override { return player_.SetEqEnabled(on); }

    bool Start() override { return player_.Start(); }
    // The component counts a play as over once Stop returns: the reading thread is waited for.
    bool Stop() override;
    bool Pause() override { return player_.Pause(); }
    bool Resume() override { return player_.Resume(); }
    bool Seek(std::int64_t frames) override { return player_.Seek(frames); }
    bool SetStereo(StereoModes mode) override { return player_.SetStereo(mode); }
    bool SetSpeed(int code) override { return player_.SetSpeed(code); }
    bool SetReverse(bool reverse) override { return player_.SetReverse(reverse); }
    bool WaitIdle(std::uint32_t ms) override { return player_.WaitIdle(ms); }

    TDigitalCdPlayer& Player() { return player_; }

private:
    TDriveSystem& system_;
    TDigitalCdPlayer player_;
};

} // namespace vantrel
