// The player component's drive list and drive commands over the SCSI drive system: the
// drive list is the system's TKsCdRoms, and each command goes to the drive through the
// path the component picked for it (adapter or letter).
#pragma once

#include "drive/DriveSystem.h"
#include "engine/EngineInterfaces.h"

namespace vantrel {

class TScsiDriveList : public ICdDriveList {
public:
    explicit TScsiDriveList(TDriveSystem& system) : system_(system) {}
    int Scan(int selector, bool addNonLettered) override { return system_.Roms().Scan(selector, addNonLettered); }
    int Count() const override { return system_.Roms().GetCount(); }
    std::string Letter(int index) const override;
    bool MciAvail(int index) const override { return system_.Roms().GetMciAvail(index); }
    bool AspiAvail(int index) const override { return system_.Roms().GetAspiAvail(index); }
    bool SptiAvail(int index) const override { return system_.Roms().GetSptiAvail(index); }
    bool AspiLoaded() const override { return system_.Roms().AspiAvailable(); }
    bool SptiAvailable() const override { return system_.Roms().SptiAvailable(); }

private:
    TDriveSystem& system_;
};

class TScsiDriveCommands : public IDriveCommands {
public:
    explicit TScsiDriveCommands(TDriveSystem& system) : system_(system) {}
    bool IsTrayLoaded(int drive, Transport transport) override;
    bool EjectTray(int drive, Transport transport) override;
    bool LoadTray(int drive, Transport transport) override;
    bool PlayRange(int drive, Transport transport, std::int64_t start, std::int64_t end) override;
    bool ReadTrackPosition(int drive, Transport transport, TCdAddress& relative) override;
    int GetReadSpeeds(int drive, Transport transport, int modeCmdType, int size, std::uint32_t* speeds) override;
    bool ReadTocNormal(int drive, Transport transport, TCdToc& toc) override;
    bool ReadTocAdvanced(int drive, Transport transport, bool bcd, TCdToc& toc) override;
    bool ReadCdText(int drive, Transport transport, std::uint8_t* buffer, std::size_t size,
                    std::size_t& length) override;
    QRead ReadQ(int drive, Transport transport, int method, std::int64_t frames, TQRecord& record) override;
    bool LockTray(int drive, Transport transport, bool lock) override;

private:
    // The drive and the path to it; false for an index the list does not have.
    bool Reach(int drive, Transport transport, const TKsCdRom*& rom, IScsiTransport*& path);
    TDriveSystem& system_;
};

}  // namespace vantrel
