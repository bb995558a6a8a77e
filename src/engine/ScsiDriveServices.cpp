#include "engine/ScsiDriveServices.h"

#include <span>

#include "drive/KsCdCommands.h"

namespace vantrel {

namespace {

constexpr std::uint8_t kIllegalRequest = 5;

// Passes commands on and keeps the sense of the last one, which a command operation
// does not hand back.
class TSenseKeeper : public IScsiTransport {
public:
    explicit TSenseKeeper(IScsiTransport& path) : path_(path) {}
    bool Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense) override
    {
        lastOk_ = path_.Execute(drive, request, sense);
        last_ = sense;
        return lastOk_;
    }
    // The drive answered: the last command went through, or it refused with a reason.
    bool Refused() const { return lastOk_ || last_.Key() == kIllegalRequest; }

private:
    IScsiTransport& path_;
    ScsiSense last_;
    bool lastOk_ = false;
};

}  // namespace

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

bool TScsiDriveCommands::ReadTocNormal(int drive, Transport transport, TCdToc& toc)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    return Reach(drive, transport, rom, path) && ::vantrel::ReadTocNormal(*path, *rom, toc);
}

bool TScsiDriveCommands::ReadTocAdvanced(int drive, Transport transport, bool bcd, TCdToc& toc)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    return Reach(drive, transport, rom, path) && ::vantrel::ReadTocAdvanced(*path, *rom, bcd, toc);
}

bool TScsiDriveCommands::ReadCdText(int drive, Transport transport, std::uint8_t* buffer, std::size_t size,
                                    std::size_t& length)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    length = 0;
    return Reach(drive, transport, rom, path) && buffer && ::vantrel::ReadCdText(*path, *rom, buffer, size, length);
}

QRead TScsiDriveCommands::ReadQ(int drive, Transport transport, int method, std::int64_t frames, TQRecord& record)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    record.fill(0);
    if (method < 1 || method > 3)
        return QRead::Refused;
    if (!Reach(drive, transport, rom, path))
        return QRead::Failed;
    TSenseKeeper keeper(*path);
    if (::vantrel::ReadQ(keeper, *rom, method, frames, record))
        return QRead::Ok;
    // A command that went through with no Q in its answer counts as a refusal too.
    return keeper.Refused() ? QRead::Refused : QRead::Failed;
}

bool TScsiDriveCommands::LockTray(int drive, Transport transport, bool lock)
{
    const TKsCdRom* rom;
    IScsiTransport* path;
    // The adapter path addresses every LUN of the drive's target, as a changer has several.
    return Reach(drive, transport, rom, path) && ::vantrel::LockTray(*path, *rom, lock, transport == Transport::Aspi);
}

}  // namespace vantrel
