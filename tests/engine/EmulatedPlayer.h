// An emulated drive "V:" with a disc made for the test, behind the real drive system, whose
// play clock the test moves by hand; the commands it is sent are counted. With it, the
// player component over the real engines, and the helpers to wait for its events.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "drive/DriveSystem.h"
#include "drive/KsCdCommands.h"
#include "drive/TrackInfo.h"
#include "engine/AnalogCdPlayer.h"
#include "engine/CdAudio.h"
#include "engine/KsCdPlayer.h"
#include "engine/ScsiDriveServices.h"
#include "platform/MessageWindow.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/EmulatedScsiDevice.h"

namespace vantrel::testing {

// Hands every command to the emulated drive and counts them by operation code.
class CountingDevice : public IScsiDevice {
public:
    explicit CountingDevice(vdrive::VirtualDrive& drive) : inner_(drive) {}
    bool Execute(const ScsiRequest& request, ScsiSense& sense) override
    {
        if (request.cdb && request.cdbLength > 0)
            ++counts_[request.cdb[0]];
        return inner_.Execute(request, sense);
    }
    int Count(std::uint8_t opcode) const { return counts_[opcode].load(); }

private:
    vdrive::EmulatedScsiDevice inner_;
    std::array<std::atomic<int>, 256> counts_{};
};

class EmulatedDisc {
public:
    explicit EmulatedDisc(const std::string& description, const std::string& driveOptions = "")
    {
        const auto disc = MakeTestDisc(dir, description);
        vdrive::DriveOptions options;
        std::string error;
        EXPECT_TRUE(vdrive::ParseDriveOptions(driveOptions, options, error)) << error;
        drive = std::make_unique<vdrive::VirtualDrive>(options);
        drive->SetClock([this] { return now.load(); });
        drive->Insert(disc);
        device = std::make_unique<CountingDevice>(*drive);
        // An empty sysfs tree: no real drives take part.
        system = std::make_unique<TDriveSystem>(std::vector<TDriveSystem::Emulated>{{device.get(), "V:"}},
                                                dir.Path().string());
        rom.DriveLetter = "V:";
    }

    // Moves the drive's play clock on.
    void Advance(std::chrono::milliseconds by) { now += by.count(); }

    // Track n (from 1) as the track list would hold it.
    TTrackInfo Track(int n)
    {
        TCdToc toc;
        EXPECT_TRUE(ReadTocNormal(system->Spti(), rom, toc));
        TTrackInfo track;
        track.DriveLetter = "V:";
        track.TrackNumber = n;
        track.StartAddress = toc.tracks[n - 1].start;
        track.EndAddress = toc.tracks[n - 1].end;
        return track;
    }

    // The audio control page's output ports 0 and 1 as MODE SENSE reads them back.
    struct Ports {
        int select0 = 0, volume0 = 0, select1 = 0, volume1 = 0;
        friend bool operator==(const Ports&, const Ports&) = default;
    };
    Ports AudioControl()
    {
        std::uint8_t answer[64] = {};
        EXPECT_TRUE(Send(system->Spti(), rom, cdb::ModeSense(0, true, 0x0E, sizeof answer), answer));
        const std::uint8_t* page = answer + 8 + (answer[6] << 8 | answer[7]);
        return Ports{page[8] & 0x0F, page[9], page[10] & 0x0F, page[11]};
    }
    // The lock bit of the capabilities page.
    bool TrayLocked()
    {
        std::uint8_t page[8] = {};
        EXPECT_TRUE(ReadCapabilitiesPage(system->Spti(), rom, 2, page));
        return page[6] & 0x02;
    }
    std::uint8_t Status() { return AudioStatus(system->Spti(), rom); }

    vantrel::testing::TempDir dir;
    std::atomic<std::int64_t> now{0};
    std::unique_ptr<vdrive::VirtualDrive> drive;
    std::unique_ptr<CountingDevice> device;
    std::unique_ptr<TDriveSystem> system;
    TKsCdRom rom;
};

inline std::ostream& operator<<(std::ostream& out, const EmulatedDisc::Ports& p)
{
    return out << "{" << p.select0 << "/" << p.volume0 << ", " << p.select1 << "/" << p.volume1 << "}";
}

// The player component over the real engines and the emulated drive, with its events
// counted. Its CD-audio devices poll every 2 ms.
class EmulatedPlayer {
public:
    explicit EmulatedPlayer(TDriveSystem& system)
    {
        TKsCdPlayer::Engines engines;
        engines.drives = std::make_unique<TScsiDriveList>(system);
        engines.commands = std::make_unique<TScsiDriveCommands>(system);
        auto cd = std::make_unique<TCdAudio>(system, std::chrono::milliseconds(2));
        cdAudio = cd.get();
        engines.cdAudio = std::move(cd);
        engines.analog = std::make_unique<TKsAnalogCdPlayer>(system);
        player = std::make_unique<TKsCdPlayer>(std::move(engines));
        player->OnPlayEnd = [this](TKsCdPlayer&) { ++ends; };
        player->OnPlayError = [this](TKsCdPlayer&) { ++errors; };
        EXPECT_EQ(player->GetCdDrives(), 1);
    }

    // Pumps the component's window until done() holds; false after timeout.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            player->Window().PumpFor(std::chrono::milliseconds(1));
        }
        return true;
    }
    // Pumps for a while, for what must not happen.
    void PumpFor(std::chrono::milliseconds time)
    {
        PumpUntil([] { return false; }, time);
    }

    TCdAudio* cdAudio = nullptr;
    std::unique_ptr<TKsCdPlayer> player;
    int ends = 0, errors = 0;
};

} // namespace vantrel::testing
