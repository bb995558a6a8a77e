#include "engine/ScsiDriveServices.h"

#include <span>

#include "drive/KsCdCommands.h"

namespace vantrel {

std::string TScsiDriveList::Letter(int index) const
{
    const TKsCdRom* rom = system_.Roms().GetDrive(index);
    return rom ? rom->DriveLetter : std::string();
}

bool TScsiDriveCommands::Reach(int drive, Transport transport, const TKsCdRom*& rom, IScsiTransport*& path)
{
    rom = system_.Roms().GetDrive(drive);
    path = transport == Transport::Aspi ? &system_.AspiTransport() : static_cast<IScsiTransport*>(&system_.Spti());
    return rom != nullptr;
}

bool TScsiDriveCommands::IsTrayLoaded(int drive, Transport transport)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    return Reach(drive, transport, rom, path) && IsReady(*path, *rom);
}

bool TScsiDriveCommands::EjectTray(int drive, Transport transport)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    return Reach(drive, transport, rom, path) && Eject(*path, *rom);
}

bool TScsiDriveCommands::LoadTray(int drive, Transport transport)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    return Reach(drive, transport, rom, path) && Load(*path, *rom);
}

bool TScsiDriveCommands::PlayRange(int drive, Transport transport, std::int64_t start, std::int64_t end)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    return Reach(drive, transport, rom, path) &&
           ::vantrel::PlayRange(*path, *rom, FramesToCdAddress(start), FramesToCdAddress(end));
}

bool TScsiDriveCommands::ReadTrackPosition(int drive, Transport transport, TCdAddress& relative)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    std::uint32_t absoluteWord = 0, relativeWord = 0;
    std::uint8_t track = 0;
    if (!Reach(drive, transport, rom, path) || !ReadPosition(*path, *rom, absoluteWord, relativeWord, track))
        return false;
    relative = PositionAddress(relativeWord);
    return true;
}

int TScsiDriveCommands::GetReadSpeeds(int drive, Transport transport, int modeCmdType, int size,
                                      std::uint32_t* speeds)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    if (!Reach(drive, transport, rom, path) || size <= 0 || !speeds)
        return 0;
    // The letter path always lets the drive's ANSI version choose the mode command form.
    const int cmdType = transport == Transport::Spti ? 0 : modeCmdType;
    return static_cast<int>(::vantrel::GetReadSpeeds(*path, *rom, cmdType, std::span<std::uint32_t>(speeds, static_cast<std::size_t>(size))));
}

}  // namespace vantrel
