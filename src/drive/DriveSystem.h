// Everything that reaches CD drives, built once: the adapter path with one adapter per
// Linux SCSI host and channel plus the virtual adapter of the emulated drives, the letter
// path with every drive's letter, and the drive list over both.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "drive/Aspi.h"
#include "drive/KsCdRoms.h"
#include "drive/Spti.h"

namespace vantrel {

class TDriveSystem {
public:
    struct Emulated {
        IScsiDevice* device = nullptr;  // must outlive the system
        std::string letter;             // wanted letter, or empty
    };

    explicit TDriveSystem(const std::vector<Emulated>& emulated, const std::string& sysfsRoot = "/sys",
                          std::chrono::milliseconds aspiWait = std::chrono::seconds(10));

    TAspiManager& AspiManager() { return aspi_; }
    IScsiTransport& AspiTransport() { return aspiTransport_; }
    TSptiTransport& Spti() { return *spti_; }
    TKsCdRoms& Roms() { return *roms_; }

private:
    TAspiManager aspi_;
    TAspiTransport aspiTransport_;
    std::unique_ptr<TSptiTransport> spti_;
    std::unique_ptr<TKsCdRoms> roms_;
};

}  // namespace vantrel
