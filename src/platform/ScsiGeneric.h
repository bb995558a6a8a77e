// Linux SCSI generic access: the SG_IO request for one command block on an open
// /dev/sgN or /dev/srN, and the devices sysfs lists with their host, channel, target
// and LUN. Everything above speaks of drives; only this file knows the kernel's forms.
#pragma once

#include <scsi/sg.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::platform {

enum class SgDirection { None, In, Out };

// The header SG_IO is given for one command; sense goes to the given 14-byte buffer.
sg_io_hdr_t MakeSgIoHeader(const std::uint8_t* cdb, std::size_t cdbLength, SgDirection direction,
                           std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs, std::uint8_t* sense);

struct SgOutcome {
    bool ok = false;           // GOOD status, no host or driver error, the ioctl itself worked
    int error = 0;             // errno of a failed ioctl or open
    std::uint8_t status = 0;   // SCSI status
    std::uint16_t hostStatus = 0, driverStatus = 0;
};

// Sends one command on an open descriptor.
SgOutcome SgExecute(int fd, const std::uint8_t* cdb, std::size_t cdbLength, SgDirection direction,
                    std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs, std::uint8_t* sense);
// Opens path, sends one command, closes it.
SgOutcome SgExecutePath(const std::string& path, const std::uint8_t* cdb, std::size_t cdbLength,
                        SgDirection direction, std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs,
                        std::uint8_t* sense);

struct ScsiAddress {
    int host = 0, channel = 0, target = 0, lun = 0;
    friend bool operator==(const ScsiAddress&, const ScsiAddress&) = default;
};

struct SysfsDevice {
    std::string node;  // "/dev/sg3" or "/dev/sr0"
    ScsiAddress address;
    int type = -1;     // SCSI peripheral type; 5 for CD/DVD
};

// /dev/sgN devices (from root/class/scsi_generic) and optical block devices /dev/srN
// (from root/block), each in number order. root is "/sys" except in tests.
std::vector<SysfsDevice> ListScsiGeneric(const std::string& root = "/sys");
std::vector<SysfsDevice> ListOpticalDrives(const std::string& root = "/sys");

}  // namespace vantrel::platform
