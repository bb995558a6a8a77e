// The command set's tests talk to the emulated drive: a transport over VirtualDrive that
// logs every command block and can refuse chosen ones (a drive without that command), and
// a rig holding a disc made by mkdisc, the drive and its address.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "drive/KsCdCommands.h"
#include "vdrive/CloneCd.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel::test {

class VirtualTransport : public IScsiTransport {
public:
    struct Sent {
        std::vector<std::uint8_t> cdb;
        std::uint8_t lun = 0; // the LUN the request was addressed to
        ScsiDirection direction = ScsiDirection::None;
        std::size_t length = 0;
    };

    explicit VirtualTransport(vdrive::VirtualDrive& drive) : drive_(drive) {}

    // Commands for which this returns true are answered ILLEGAL REQUEST, invalid opcode.
    std::function<bool(const std::vector<std::uint8_t>& cdb, std::uint8_t lun)> refuse;
    std::vector<Sent> sent;

    bool Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense) override
    {
        sent.push_back({{request.cdb, request.cdb + request.cdbLength}, drive.Lun, request.direction, request.length});
        vdrive::CommandResult result{vdrive::kStatusCheckCondition, {0x05, 0x20, 0x00}, 0};
        if (!refuse || !refuse(sent.back().cdb, drive.Lun)) {
            const auto direction = request.direction == ScsiDirection::In    ? vdrive::Direction::In
                                   : request.direction == ScsiDirection::Out ? vdrive::Direction::Out
                                                                             : vdrive::Direction::None;
            result = drive_.Execute(request.cdb, request.cdbLength, direction, request.buffer, request.length);
        }
        sense = {};
        if (result.status != vdrive::kStatusGood) {
            sense.bytes[0] = 0x70; // current error, fixed format
            sense.bytes[2] = result.sense.key;
            sense.bytes[7] = 6;
            sense.bytes[12] = result.sense.asc;
            sense.bytes[13] = result.sense.ascq;
        }
        lastSense = sense;
        return result.status == vdrive::kStatusGood;
    }

    // The opcodes sent, in order.
    std::vector<std::uint8_t> Opcodes() const
    {
        std::vector<std::uint8_t> opcodes;
        for (const Sent& s : sent)
            opcodes.push_back(s.cdb[0]);
        return opcodes;
    }
    std::size_t Count(std::uint8_t opcode) const
    {
        std::size_t n = 0;
        for (const Sent& s : sent)
            n += s.cdb[0] == opcode;
        return n;
    }

    ScsiSense lastSense;

private:
    vdrive::VirtualDrive& drive_;
};

inline vdrive::DriveOptions Options(std::string_view text)
{
    vdrive::DriveOptions options;
    std::string error;
    EXPECT_TRUE(vdrive::ParseDriveOptions(text, options, error)) << error;
    return options;
}

using testing::MakeTestDisc;

// Four tracks with the raw sub-channel stored (sector numbers; absolute = sector + 150):
//   1: 0..299 (00:02:00), copy permitted
//   2: pre-gap 300..374, index 1 at 375 (00:07:00), index 2 at 525, pre-emphasis
//   3: 675..974 (00:11:00)
//   4: 975..1124 (00:15:00), data; lead-out 1125 (00:17:00)
inline constexpr std::string_view kAlbum = R"(disc sub=raw title="Album" performer="Band"
track length=00:04:00 dcp=1 title="One"
track length=00:04:00 pregap=00:01:00 index=00:02:00 pre=1 title="Two"
track length=00:04:00 title="Three"
track length=00:02:00 data=1 title="Data"
)";

// One drive with a disc in it, its INQUIRY answer taken, addressed as LUN 1 so that the
// LUN bits travel everywhere.
struct Rig {
    explicit Rig(std::string_view description = kAlbum, std::string_view options = "")
        : drive(Options(options)), transport(drive)
    {
        drive.Insert(MakeTestDisc(dir, description));
        cd.Lun = 1;
        EXPECT_TRUE(Inquiry(transport, cd)); // as the drive scan does
        transport.sent.clear();
    }

    testing::TempDir dir;
    vdrive::VirtualDrive drive;
    VirtualTransport transport;
    TKsCdRom cd;
};

// Absolute frame number of a minute-second-frame time.
constexpr std::int64_t Frames(int minute, int second, int frame)
{
    return minute * 4500 + second * 75 + frame;
}
constexpr TCdAddress Address(int minute, int second, int frame)
{
    return FramesToCdAddress(Frames(minute, second, frame));
}

// Sample i of absolute frame f names position f * 588 + i.
inline std::int64_t SamplePosition(const std::uint8_t* bytes)
{
    return vdrive::CounterPosition(static_cast<std::int16_t>(bytes[0] | bytes[1] << 8),
                                   static_cast<std::int16_t>(bytes[2] | bytes[3] << 8));
}

// The 12-byte Q frame carried in bit 6 of 96 raw P-W bytes.
inline std::vector<std::uint8_t> QFromRaw(const std::uint8_t* raw)
{
    std::vector<std::uint8_t> q(12, 0);
    for (int i = 0; i < 96; ++i)
        if (raw[i] & 0x40)
            q[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    return q;
}

constexpr std::uint8_t Bcd(int value)
{
    return static_cast<std::uint8_t>(value / 10 * 16 + value % 10);
}

} // namespace vantrel::test
