#include "DriveSession.h"

#include "vdrive/CloneCd.h"

namespace vantrel::cli {

bool DriveSession::Open(const std::string& image, const std::string& driveOptions, std::string& error)
{
    std::vector<TDriveSystem::Emulated> emulated;
    if (!image.empty()) {
        vdrive::DriveOptions options;
        if (!vdrive::ParseDriveOptions(driveOptions, options, error))
            return false;
        auto disc = std::make_shared<vdrive::Disc>();
        if (!vdrive::ReadDiscImage(image, *disc, error))
            return false;
        drive_ = std::make_unique<vdrive::VirtualDrive>(options);
        drive_->Insert(disc);
        device_ = std::make_unique<vdrive::EmulatedScsiDevice>(*drive_);
        emulated.push_back({device_.get(), ""});
    } else if (!driveOptions.empty()) {
        error = "--drive-option needs --image";
        return false;
    }
    system_ = std::make_unique<TDriveSystem>(emulated);
    system_->Roms().Scan(0, true);
    for (const LetterDrive& d : system_->Spti().Drives())
        if (device_ && d.device == device_.get())
            imageLetter_ = d.letter;
    return true;
}

const TKsCdRom* DriveSession::FindDrive(const std::string& letter, std::string& error)
{
    std::string wanted = letter;
    if (wanted.size() == 1)
        wanted += ':';
    if (!wanted.empty() && wanted[0] >= 'a' && wanted[0] <= 'z')
        wanted[0] = static_cast<char>(wanted[0] - 'a' + 'A');
    for (int i = 0; i < system_->Roms().GetCount(); ++i)
        if (system_->Roms().GetDrive(i)->DriveLetter == wanted)
            return system_->Roms().GetDrive(i);
    error = "no drive " + wanted;
    return nullptr;
}

IScsiTransport& DriveSession::TransportFor(const TKsCdRom& drive)
{
    for (int i = 0; i < system_->Roms().GetCount(); ++i)
        if (system_->Roms().GetDrive(i) == &drive && system_->Roms().GetAspiAvail(i))
            return system_->AspiTransport();
    return system_->Spti();
}

}  // namespace vantrel::cli
