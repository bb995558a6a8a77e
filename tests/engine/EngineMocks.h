// GoogleMock doubles of the parts below the player component.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "engine/EngineInterfaces.h"

namespace vantrel::testing {

// A drive list with fixed drives: letter and which ways reach it.
class FakeDriveList : public ICdDriveList {
public:
    struct Drive {
        std::string letter;
        bool mci, aspi, spti;
    };
    explicit FakeDriveList(std::vector<Drive> drives, bool aspiLoaded = true, bool sptiAvailable = true)
        : drives_(std::move(drives)), aspiLoaded_(aspiLoaded), sptiAvailable_(sptiAvailable)
    {
    }
    int Scan(int selector, bool addNonLettered) override
    {
        lastSelector = selector;
        lastAddNonLettered = addNonLettered;
        return Count();
    }
    int Count() const override { return static_cast<int>(drives_.size()); }
    std::string Letter(int i) const override { return drives_.at(i).letter; }
    bool MciAvail(int i) const override { return drives_.at(i).mci; }
    bool AspiAvail(int i) const override { return drives_.at(i).aspi; }
    bool SptiAvail(int i) const override { return drives_.at(i).spti; }
    bool AspiLoaded() const override { return aspiLoaded_; }
    bool SptiAvailable() const override { return sptiAvailable_; }

    int lastSelector = -1;
    bool lastAddNonLettered = false;

private:
    std::vector<Drive> drives_;
    bool aspiLoaded_, sptiAvailable_;
};

class MockDriveCommands : public IDriveCommands {
public:
    MOCK_METHOD(bool, IsTrayLoaded, (int, Transport), (override));
    MOCK_METHOD(bool, EjectTray, (int, Transport), (override));
    MOCK_METHOD(bool, LoadTray, (int, Transport), (override));
    MOCK_METHOD(bool, PlayRange, (int, Transport, std::int64_t, std::int64_t), (override));
    MOCK_METHOD(bool, ReadTrackPosition, (int, Transport, TCdAddress&), (override));
    MOCK_METHOD(int, GetReadSpeeds, (int, Transport, int, int, std::uint32_t*), (override));
    MOCK_METHOD(bool, ReadTocNormal, (int, Transport, TCdToc&), (override));
    MOCK_METHOD(bool, ReadTocAdvanced, (int, Transport, bool, TCdToc&), (override));
    MOCK_METHOD(bool, ReadCdText, (int, Transport, std::uint8_t*, std::size_t, std::size_t&), (override));
    MOCK_METHOD(QRead, ReadQ, (int, Transport, int, std::int64_t, TQRecord&), (override));
    MOCK_METHOD(bool, LockTray, (int, Transport, bool), (override));
};

class MockCdAudio : public ICdAudio {
public:
    MOCK_METHOD(bool, Open, (const std::string&, std::uint32_t&), (override));
    MOCK_METHOD(bool, Close, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetTimeFormatMsf, (std::uint32_t), (override));
    MOCK_METHOD(bool, Play, (std::uint32_t, TCdAddress, TCdAddress, platform::MessageWindow*), (override));
    MOCK_METHOD(bool, Stop, (std::uint32_t), (override));
    MOCK_METHOD(bool, Position, (std::uint32_t, TCdAddress&), (override));
    MOCK_METHOD(bool, IsDoorOpen, (std::uint32_t, bool&), (override));
    MOCK_METHOD(bool, SetDoor, (std::uint32_t, bool), (override));
    MOCK_METHOD(bool, MediaIdentity, (std::uint32_t, std::string&), (override));
    MOCK_METHOD(bool, TrackCount, (std::uint32_t, int&), (override));
    MOCK_METHOD(bool, TrackStart, (std::uint32_t, int, TCdAddress&), (override));
    MOCK_METHOD(bool, TrackLength, (std::uint32_t, int, TCdAddress&), (override));
    MOCK_METHOD(bool, TrackIsAudio, (std::uint32_t, int, bool&), (override));
    MOCK_METHOD(std::uint32_t, VolumeSerial, (const std::string&), (override));
};

class MockAnalogEngine : public IAnalogEngine {
public:
    MOCK_METHOD(bool, SetNotify, (TDcdNotify, void*), (override));
    MOCK_METHOD(bool, SetCdg, (bool), (override));
    MOCK_METHOD(bool, SetFirstWait, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetInterval, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetCdgReadAtOnce, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetCdgDispAtOnce, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetModeCmdType, (std::int32_t), (override));
    MOCK_METHOD(bool, SetDrive, (int, Transport, std::int64_t, std::int64_t), (override));
    MOCK_METHOD(bool, SetSwap, (bool), (override));
    MOCK_METHOD(bool, SetVolumes, (std::uint8_t, std::uint8_t), (override));
    MOCK_METHOD(bool, SetStereo, (StereoModes), (override));
    MOCK_METHOD(bool, Start, (), (override));
    MOCK_METHOD(bool, Stop, (bool), (override));
    MOCK_METHOD(bool, Pause, (), (override));
    MOCK_METHOD(bool, Resume, (), (override));
    MOCK_METHOD(bool, Seek, (std::int64_t), (override));
    MOCK_METHOD(bool, WaitIdle, (), (override));
    MOCK_METHOD(bool, WaitThread, (std::uint32_t), (override));
};

class MockDigitalEngine : public IDigitalEngine {
public:
    MOCK_METHOD(bool, SetNotify, (TDcdNotify, void*), (override));
    MOCK_METHOD(bool, SetOutputKind, (int), (override));
    MOCK_METHOD(bool, SetDevice, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetFileName, (const std::string&), (override));
    MOCK_METHOD(bool, SetInternalFormat, (int), (override));
    MOCK_METHOD(bool, SetOutputFormat, (int, bool), (override));
    MOCK_METHOD(bool, SetAc3, (bool, bool), (override));
    MOCK_METHOD(bool, SetAsio, (int, int, int, bool), (override));
    MOCK_METHOD(bool, SetBuffers, (std::uint32_t, std::uint8_t), (override));
    MOCK_METHOD(bool, SetPriority, (int), (override));
    MOCK_METHOD(bool, SetRipMethod, (RipMethods), (override));
    MOCK_METHOD(bool, SetSubCodeMode, (SubCodeModes), (override));
    MOCK_METHOD(bool, SetSyncHeadPos, (bool), (override));
    MOCK_METHOD(bool, SetMuteGap, (bool), (override));
    MOCK_METHOD(bool, SetReadAtOnce, (std::uint8_t), (override));
    MOCK_METHOD(bool, SetOverlaps, (std::uint8_t, std::uint8_t), (override));
    MOCK_METHOD(bool, SetOffset, (std::int32_t), (override));
    MOCK_METHOD(bool, SetMinFrame, (std::int64_t), (override));
    MOCK_METHOD(bool, SetMaxFrame, (std::int64_t), (override));
    MOCK_METHOD(bool, SetReadSpeedEnabled, (bool), (override));
    MOCK_METHOD(bool, SetReadSpeed, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetWaitTime, (std::uint32_t), (override));
    MOCK_METHOD(bool, SetSpinUpTime, (std::int32_t), (override));
    MOCK_METHOD(bool, SetModeCmdType, (std::int32_t), (override));
    MOCK_METHOD(bool, SetCdg, (bool), (override));
    MOCK_METHOD(bool, SetRs, (bool), (override));
    MOCK_METHOD(bool, SetCdgSync, (bool), (override));
    MOCK_METHOD(bool, SetCdgSyncOffset, (std::uint8_t), (override));
    MOCK_METHOD(bool, SetDrive, (int, Transport, std::int64_t, std::int64_t), (override));
    MOCK_METHOD(bool, SetGain, (std::int32_t), (override));
    MOCK_METHOD(bool, SetDeEmphasis, (bool), (override));
    MOCK_METHOD(bool, SetVolumes, (float, float), (override));
    MOCK_METHOD(bool, SetNormalizer, (const TNormParams&), (override));
    MOCK_METHOD(bool, SetSpeedEx, (double), (override));
    MOCK_METHOD(bool, SetRandomSpeed, (int, int, int), (override));
    MOCK_METHOD(float, GetEqLevel, (), (override));
    MOCK_METHOD(bool, SetEqLevel, (float), (override));
    MOCK_METHOD(int, GetEqBalance, (), (override));
    MOCK_METHOD(bool, SetEqBalance, (int), (override));
    MOCK_METHOD(bool, SetEqParams, (int, float, float, float), (override));
    MOCK_METHOD(bool, GetEqEnabled, (), (override));
    MOCK_METHOD(bool, SetEqEnabled, (bool), (override));
    MOCK_METHOD(bool, Start, (), (override));
    MOCK_METHOD(bool, Stop, (), (override));
    MOCK_METHOD(bool, Pause, (), (override));
    MOCK_METHOD(bool, Resume, (), (override));
    MOCK_METHOD(bool, Seek, (std::int64_t), (override));
    MOCK_METHOD(bool, SetStereo, (StereoModes), (override));
    MOCK_METHOD(bool, SetSpeed, (int), (override));
    MOCK_METHOD(bool, SetReverse, (bool), (override));
    MOCK_METHOD(bool, WaitIdle, (std::uint32_t), (override));
};

} // namespace vantrel::testing
