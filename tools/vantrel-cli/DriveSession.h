// The drives one command-line run works with: the system's real drives and, with
// --image, an emulated drive holding that image (its personality from --drive-option),
// all reachable through the drive system.
#pragma once

#include <memory>
#include <string>

#include "drive/DriveSystem.h"
#include "vdrive/Disc.h"
#include "vdrive/drive/EmulatedScsiDevice.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel::cli {

class DriveSession {
public:
    // Loads the image (if any) into an emulated drive and builds the drive system.
    bool Open(const std::string& image, const std::string& driveOptions, std::string& error);

    TDriveSystem& System() { return *system_; }
    // The letter of the emulated drive, or empty without an image.
    const std::string& ImageLetter() const { return imageLetter_; }
    // The listed drive with this letter (scanning first), or null with a message.
    const TKsCdRom* FindDrive(const std::string& letter, std::string& error);
    // The path commands to that drive take: the adapter path when it offers it.
    IScsiTransport& TransportFor(const TKsCdRom& drive);

private:
    std::unique_ptr<vdrive::VirtualDrive> drive_;
    std::unique_ptr<vdrive::EmulatedScsiDevice> device_;
    std::unique_ptr<TDriveSystem> system_;
    std::string imageLetter_;
};

}  // namespace vantrel::cli
