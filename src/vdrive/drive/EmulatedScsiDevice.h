// An emulated drive as the SCSI transports see a device: command blocks go to the
// VirtualDrive, and its refusals come back as fixed-format sense bytes.
#pragma once

#include "drive/Aspi.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel::vdrive {

class EmulatedScsiDevice : public IScsiDevice {
public:
    explicit EmulatedScsiDevice(VirtualDrive& drive) : drive_(drive) {}

    bool Execute(const ScsiRequest& request, ScsiSense& sense) override
    {
        const Direction direction = request.direction == ScsiDirection::In    ? Direction::In
                                    : request.direction == ScsiDirection::Out ? Direction::Out
                                                                              : Direction::None;
        const CommandResult result = drive_.Execute(request.cdb, request.cdbLength, direction, request.buffer,
                                                    request.length);
        sense = ScsiSense{};
        if (result.status != kStatusGood) {
            sense.bytes[0] = 0x70;  // current error, fixed format
            sense.bytes[2] = result.sense.key;
            sense.bytes[7] = 6;     // additional length up to the ASCQ
            sense.bytes[12] = result.sense.asc;
            sense.bytes[13] = result.sense.ascq;
        }
        return result.status == kStatusGood;
    }

private:
    VirtualDrive& drive_;
};

}  // namespace vantrel::vdrive
