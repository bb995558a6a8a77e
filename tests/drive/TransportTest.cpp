#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "FakeScsiDevice.h"
#include "common/TempDir.h"
#include "drive/Aspi.h"
#include "drive/Spti.h"
#include "platform/ScsiGeneric.h"

namespace vantrel {
namespace {

using testing::FakeScsiDevice;
using namespace std::chrono_literals;

TEST(SptiTimeout, WholeSecondsBetweenOneAndOneHundredEight)
{
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 1}, {500, 1}, {999, 1}, {1000, 1}, {3000, 3}, {15000, 15}, {108000, 108}, {108001, 108}, {200000, 108},
    };
    for (const auto& [ms, seconds] : cases)
        EXPECT_EQ(SptiTimeoutSeconds(ms), seconds) << ms;
}

TEST(SgIoHeader, IsBuiltForTheKernelExactly)
{
    const std::uint8_t readCd[12] = {0xBE, 0, 0, 0, 0, 0x10, 0, 0, 25, 0x10, 0, 0};
    std::uint8_t buffer[25 * 2352];
    std::uint8_t sense[14];
    const sg_io_hdr_t in = platform::MakeSgIoHeader(readCd, 12, platform::SgDirection::In, buffer, sizeof buffer,
                                                    15000, sense);
    EXPECT_EQ(in.interface_id, 'S');
    EXPECT_EQ(in.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(in.cmd_len, 12);
    EXPECT_EQ(in.cmdp, readCd);
    EXPECT_EQ(in.dxferp, buffer);
    EXPECT_EQ(in.dxfer_len, sizeof buffer);
    EXPECT_EQ(in.sbp, sense);
    EXPECT_EQ(in.mx_sb_len, 14);
    EXPECT_EQ(in.timeout, 15000u);
    EXPECT_EQ(in.iovec_count, 0);
    EXPECT_EQ(in.flags, 0u);

    const std::uint8_t modeSelect[6] = {0x15, 0x10, 0, 0, 12, 0};
    const sg_io_hdr_t out = platform::MakeSgIoHeader(modeSelect, 6, platform::SgDirection::Out, buffer, 12, 3000, sense);
    EXPECT_EQ(out.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(out.dxfer_len, 12u);
    const std::uint8_t ready[6] = {};
    const sg_io_hdr_t none = platform::MakeSgIoHeader(ready, 6, platform::SgDirection::None, nullptr, 0, 1000, sense);
    EXPECT_EQ(none.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(none.dxferp, nullptr);
    EXPECT_EQ(none.dxfer_len, 0u);
}

TEST(SgIo, AMissingDeviceFailsWithItsError)
{
    const std::uint8_t ready[6] = {};
    std::uint8_t sense[14] = {};
    const auto outcome = platform::SgExecutePath("/dev/vantrel-no-such-device", ready, 6, platform::SgDirection::None,
                                                 nullptr, 0, 1000, sense);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, ENOENT);
}

TEST(Aspi, CommandsReachTheDeviceAndCheckConditionFails)
{
    TAspiManager manager;
    auto adapter = std::make_unique<TVirtualHostAdapter>();
    FakeScsiDevice device;
    adapter->Add(&device);
    manager.AddAdapter(std::move(adapter));
    EXPECT_TRUE(manager.Load());
    EXPECT_EQ(manager.SupportInfo(), (std::uint32_t{SS_COMP} << 8) | 1);

    TAspiTransport transport(manager);
    TKsCdRom drive;
    std::uint8_t answer[100] = {};
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 100, 0};
    ScsiSense sense;
    ASSERT_TRUE(transport.Execute(drive, {inquiry, 6, ScsiDirection::In, answer, sizeof answer}, sense));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(answer + 8), 7), "VANTREL");

    device.refuse = true;
    EXPECT_FALSE(transport.Execute(drive, {inquiry, 6, ScsiDirection::In, answer, sizeof answer}, sense));
    EXPECT_EQ(sense.Key(), 5);
    EXPECT_EQ(sense.Asc(), 0x24);

    drive.Target = 3;  // nothing there
    EXPECT_FALSE(transport.Execute(drive, {inquiry, 6, ScsiDirection::In, answer, sizeof answer}, sense));
    drive.HostAdapter = 9;  // no such adapter
    EXPECT_FALSE(transport.Execute(drive, {inquiry, 6, ScsiDirection::In, answer, sizeof answer}, sense));
}

TEST(Aspi, ACommandTheDriveNeverFinishesIsAbortedAfterTheWait)
{
    FakeScsiDevice device;
    device.hang = true;
    {
        TAspiManager manager(50ms);
        auto adapter = std::make_unique<TVirtualHostAdapter>();
        adapter->Add(&device);
        manager.AddAdapter(std::move(adapter));

        SrbExecScsiCmd srb;
        srb.flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
        std::uint8_t buffer[16] = {};
        srb.buffer = buffer;
        srb.bufferLength = sizeof buffer;
        srb.cdbLength = 6;
        srb.cdb[0] = 0x12;
        EXPECT_EQ(manager.Execute(srb), 0);
        EXPECT_EQ(srb.status, SS_ABORTED);
        ASSERT_TRUE(device.hanging.WaitFor(5s));
        device.release.Set();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(buffer[0], 0) << "an aborted request's buffer is left alone";
    }  // the manager joins its worker, which has finished by now
    EXPECT_EQ(device.commands.load(), 1);
}

TEST(Spti, TheLetterPathFindsEmulatedDrivesAndFailsOnCheckCondition)
{
    FakeScsiDevice device;
    TSptiTransport spti(AssignDriveLetters({}, {{&device, "", 0, 0}}));
    ASSERT_EQ(spti.Drives().size(), 1u);
    EXPECT_EQ(spti.Drives()[0].letter, "V:");
    EXPECT_TRUE(spti.Available());
    TKsCdRom drive;
    drive.DriveLetter = "V:";
    const std::uint8_t ready[6] = {};
    ScsiSense sense;
    EXPECT_TRUE(spti.Execute(drive, {ready, 6}, sense));
    device.refuse = true;
    EXPECT_FALSE(spti.Execute(drive, {ready, 6}, sense));
    EXPECT_EQ(sense.Key(), 5);
    drive.DriveLetter = "W:";
    EXPECT_FALSE(spti.Execute(drive, {ready, 6}, sense));
}

// A sysfs tree as the kernel lays it out for two optical drives on host 2.
class FakeSysfs {
public:
    FakeSysfs()
    {
        Device("sg0", "sr0", "2:0:0:0", "HL-DT-ST", "DVDRAM GH24NSD1", "LG00");
        Device("sg1", "", "3:0:0:0", "ATA", "DISK", "1.0", 0);
        Device("sg2", "sr1", "2:0:1:0", "HL-DT-ST", "DVDRAM GH24NSD1", "LG00");
    }
    std::string Root() const { return dir.Path().string(); }

private:
    void Device(const std::string& sg, const std::string& sr, const std::string& address, const std::string& vendor,
                const std::string& model, const std::string& rev, int type = 5)
    {
        const auto device = dir.Path() / "devices" / "pci0" / "host" / address;
        std::filesystem::create_directories(device);
        std::ofstream(device / "type") << type << "\n";
        std::ofstream(device / "vendor") << vendor << "  \n";
        std::ofstream(device / "model") << model << "\n";
        std::ofstream(device / "rev") << rev << "\n";
        std::filesystem::create_directories(dir.Path() / "class" / "scsi_generic" / sg);
        std::filesystem::create_directory_symlink(device, dir.Path() / "class" / "scsi_generic" / sg / "device");
        if (!sr.empty()) {
            std::filesystem::create_directories(dir.Path() / "block" / sr);
            std::filesystem::create_directory_symlink(device, dir.Path() / "block" / sr / "device");
        }
    }
    testing::TempDir dir;
};

TEST(Sysfs, DevicesAndLettersComeFromTheTree)
{
    FakeSysfs sysfs;
    const auto generic = platform::ListScsiGeneric(sysfs.Root());
    ASSERT_EQ(generic.size(), 3u);
    EXPECT_EQ(generic[0].node, "/dev/sg0");
    EXPECT_EQ(generic[2].address, (platform::ScsiAddress{2, 0, 1, 0}));
    EXPECT_EQ(generic[1].type, 0);
    const auto optical = platform::ListOpticalDrives(sysfs.Root());
    ASSERT_EQ(optical.size(), 2u);

    FakeScsiDevice a, b;
    const auto letters = AssignDriveLetters(optical, {{&a, "E:", 1, 0}, {&b, "", 1, 1}}, sysfs.Root());
    ASSERT_EQ(letters.size(), 4u);
    EXPECT_EQ(letters[0].letter, "D:");
    EXPECT_EQ(letters[0].node, "/dev/sr0");
    EXPECT_EQ(letters[0].vendor, "HL-DT-ST");
    EXPECT_EQ(letters[1].letter, "E:");
    EXPECT_EQ(letters[1].device, &a) << "an emulated drive keeps the letter it asked for";
    EXPECT_EQ(letters[2].letter, "F:");
    EXPECT_EQ(letters[2].address, (platform::ScsiAddress{2, 0, 1, 0}));
    EXPECT_EQ(letters[3].letter, "V:");

    TAspiManager manager;
    manager.AddSystemAdapters(sysfs.Root());
    EXPECT_EQ(manager.SupportInfo() & 0xFF, 2u) << "one adapter per host and channel";
    EXPECT_EQ(manager.AdapterOf({2, 0, 1, 0}), 0);
    EXPECT_EQ(manager.AdapterOf({3, 0, 0, 0}), 1);
    int type = -1, targets = 0;
    EXPECT_EQ(manager.DeviceType(0, 1, 0, type), SS_COMP);
    EXPECT_EQ(type, 5);
    EXPECT_EQ(manager.AdapterInquiry(0, targets), SS_COMP);
    EXPECT_EQ(targets, 2);
}

}  // namespace
}  // namespace vantrel
