// The player component over the real drive system with an emulated drive behind it:
// the drive is listed with its letter and paths, and the tray operations reach it.
#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "drive/DriveSystem.h"
#include "engine/KsCdPlayer.h"
#include "engine/ScsiDriveServices.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/EmulatedScsiDevice.h"

namespace vantrel {
namespace {

class ScsiDrivesTest : public ::testing::Test {
protected:
    ScsiDrivesTest()
    {
        drive.Insert(testing::MakeTestDisc(dir, "disc\ntrack length=00:05:00\n"));
        // An empty sysfs tree: no real drives take part.
        system = std::make_unique<TDriveSystem>(std::vector<TDriveSystem::Emulated>{{&device, "V:"}},
                                                dir.Path().string());
        TKsCdPlayer::Engines engines;
        engines.drives = std::make_unique<TScsiDriveList>(*system);
        engines.commands = std::make_unique<TScsiDriveCommands>(*system);
        player = std::make_unique<TKsCdPlayer>(std::move(engines));
    }

    testing::TempDir dir;
    vdrive::VirtualDrive drive;
    vdrive::EmulatedScsiDevice device{drive};
    std::unique_ptr<TDriveSystem> system;
    std::unique_ptr<TKsCdPlayer> player;
};

TEST_F(ScsiDrivesTest, TheEmulatedDriveIsListedWithBothPaths)
{
    ASSERT_EQ(player->GetCdDrives(), 1);
    EXPECT_EQ(player->GetDriveLetter(0), "V:");
    EXPECT_TRUE(player->GetAspiAvail());
    EXPECT_TRUE(player->GetSptiAvail());
    EXPECT_TRUE(player->GetAspiAvails(0));
    EXPECT_TRUE(player->GetSptiAvails(0));
    EXPECT_TRUE(player->GetMciAvails(0));

    player->NoAspi = true;
    ASSERT_EQ(player->GetCdDrives(), 1);
    EXPECT_FALSE(player->GetAspiAvails(0));
    EXPECT_TRUE(player->GetUseSpti(0)) << "without the adapter path the letter path is used";
}

TEST_F(ScsiDrivesTest, TrayOperationsReachTheDriveThroughEitherPath)
{
    ASSERT_EQ(player->GetCdDrives(), 1);
    for (const bool letterPath : {false, true}) {
        player->SetPlayMode(0, pmDigital);
        player->SetUseSpti(0, letterPath);
        ASSERT_EQ(player->GetUseSpti(0), letterPath);
        EXPECT_TRUE(player->IsTrayLoaded("V:"));
        EXPECT_TRUE(player->EjectTray("V:"));
        EXPECT_TRUE(drive.TrayOpen());
        EXPECT_FALSE(player->IsTrayLoaded("V:"));
        EXPECT_TRUE(player->LoadTray("V:"));
        EXPECT_TRUE(drive.HasDisc());
        EXPECT_TRUE(player->IsTrayLoaded("V:"));
    }
    EXPECT_FALSE(player->EjectTray("Q:"));
}

TEST(SoundDevices, TheListStartsWithTheDefaultDevice)
{
    const int count = TKsCdPlayer::GetWaveOutNumDevs();
    ASSERT_GE(count, 1);
    EXPECT_EQ(TKsCdPlayer::GetWaveOutDevName(0), "default");
    EXPECT_EQ(TKsCdPlayer::GetWaveOutDevName(count), "");
    EXPECT_EQ(TKsCdPlayer::GetWaveOutDevName(-1), "");
}

TEST_F(ScsiDrivesTest, ReadSpeedsComeFromTheDrive)
{
    ASSERT_EQ(player->GetCdDrives(), 1);
    player->SetPlayMode(0, pmDigital);
    std::uint32_t speeds[16] = {};
    const int count = player->GetReadSppeds(0, 16, speeds);
    ASSERT_EQ(count, 6) << "the emulated drive's six speeds";
    EXPECT_EQ(speeds[0], 706u);
    EXPECT_EQ(speeds[5], 7056u);
}

}  // namespace
}  // namespace vantrel
