// The letter path to SCSI drives: every CD drive has a letter (optical drives D:, E:, ...
// in /dev/sr order; emulated drives the letter asked for, else the first free one from V:
// on), and a command goes to the drive behind the letter with its time-out in seconds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/Aspi.h"
#include "drive/ScsiTransport.h"
#include "platform/ScsiGeneric.h"

namespace vantrel {

struct LetterDrive {
    std::string letter;           // "E:"
    std::string node;             // /dev/srN of a real drive; empty for an emulated one
    platform::ScsiAddress address;  // a real drive's host, channel, target and LUN
    IScsiDevice* device = nullptr;  // an emulated drive
    int virtualAdapter = -1;        // and its place on the virtual adapter
    int virtualTarget = -1;
    // From sysfs (real) or INQUIRY (emulated): what the pairing compares.
    std::string vendor, product, revision;
};

struct EmulatedDriveEntry {
    IScsiDevice* device = nullptr;
    std::string wantedLetter;  // "" for the first free letter from V: on
    int virtualAdapter = -1;
    int virtualTarget = -1;
};

// The letters of every drive, sorted by letter.
std::vector<LetterDrive> AssignDriveLetters(const std::vector<platform::SysfsDevice>& optical,
                                            const std::vector<EmulatedDriveEntry>& emulated,
                                            const std::string& sysfsRoot = "/sys");

// The pass-through time-out in whole seconds: 1 below a second, at most 108.
std::uint32_t SptiTimeoutSeconds(std::uint32_t milliseconds);

class TSptiTransport : public IScsiTransport {
public:
    explicit TSptiTransport(std::vector<LetterDrive> drives) : drives_(std::move(drives)) {}
    bool Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense) override;

    // Whether the letter path works here: the first letter that can be opened answers
    // PREVENT ALLOW; a refusal for lack of access means the path is not available.
    bool Available();
    const std::vector<LetterDrive>& Drives() const { return drives_; }
    const LetterDrive* Find(const std::string& letter) const;

private:
    bool Send(const LetterDrive& drive, const ScsiRequest& request, ScsiSense& sense, int* error);

    std::vector<LetterDrive> drives_;
    int available_ = -1;  // not checked yet
};

}  // namespace vantrel
