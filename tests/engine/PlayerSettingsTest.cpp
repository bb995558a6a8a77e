#include "PlayerFixture.h"

namespace vantrel::testing {
namespace {

TEST(PlayerSettings, SettersKeepTheirRules)
{
    using Set = void (*)(TKsCdPlayer&, int);
    using Get = int (*)(const TKsCdPlayer&);
    struct Case {
        const char* name;
        Set set;
        Get get;
        int value, expected;
    };
    const Set overlaps = [](TKsCdPlayer& p, int v) { p.SetOverlaps(0, static_cast<std::uint8_t>(v)); };
    const Get getOverlaps = [](const TKsCdPlayer& p) { return int{p.GetOverlaps(0)}; };
    const Set compares = [](TKsCdPlayer& p, int v) { p.SetCompares(0, static_cast<std::uint8_t>(v)); };
    const Get getCompares = [](const TKsCdPlayer& p) { return int{p.GetCompares(0)}; };
    const Set rip = [](TKsCdPlayer& p, int v) { p.SetRipMethod(0, static_cast<RipMethods>(v)); };
    const Get getRip = [](const TKsCdPlayer& p) { return int{p.GetRipMethod(0)}; };
    const Set cdgOffset = [](TKsCdPlayer& p, int v) { p.SetCdgSyncOffset(0, static_cast<std::uint8_t>(v)); };
    const Get getCdgOffset = [](const TKsCdPlayer& p) { return int{p.GetCdgSyncOffset(0)}; };
    const Set gain = [](TKsCdPlayer& p, int v) { p.SetGain(0, v); };
    const Get getGain = [](const TKsCdPlayer& p) { return p.GetGain(0); };
    const Set toc = [](TKsCdPlayer& p, int v) { p.SetReadTocMode(0, v); };
    const Get getToc = [](const TKsCdPlayer& p) { return p.GetReadTocMode(0); };
    const Set gapMode = [](TKsCdPlayer& p, int v) { p.SetPreGapMode(0, v); };
    const Get getGapMode = [](const TKsCdPlayer& p) { return p.GetPreGapMode(0); };
    const Set gapMethod = [](TKsCdPlayer& p, int v) { p.SetPreGapMethod(0, v); };
    const Get getGapMethod = [](const TKsCdPlayer& p) { return p.GetPreGapMethod(0); };
    const Set modeCmd = [](TKsCdPlayer& p, int v) { p.SetModeCmdType(0, v); };
    const Get getModeCmd = [](const TKsCdPlayer& p) { return p.GetModeCmdType(0); };
    const Case cases[] = {
        {"Overlaps not below ReadAtOnce (25)", overlaps, getOverlaps, 25, 5},
        {"Overlaps below ReadAtOnce", overlaps, getOverlaps, 24, 24},
        {"Compares above Overlaps (5)", compares, getCompares, 6, 2},
        {"Compares equal to Overlaps", compares, getCompares, 5, 5},
        {"RipMethod 7", rip, getRip, 7, RipMMC},
        {"RipMethod 4", rip, getRip, 4, RipToshiba},
        {"CdgSyncOffset 3", cdgOffset, getCdgOffset, 3, 4},
        {"CdgSyncOffset 2", cdgOffset, getCdgOffset, 2, 2},
        {"Gain -1", gain, getGain, -1, 1},
        {"Gain 100", gain, getGain, 100, 100},
        {"ReadTocMode 2", toc, getToc, 2, 0},
        {"ReadTocMode 1", toc, getToc, 1, 1},
        {"PreGapMode 3", gapMode, getGapMode, 3, 0},
        {"PreGapMethod 3", gapMethod, getGapMethod, 3, 3},
        {"PreGapMethod -1", gapMethod, getGapMethod, -1, 0},
        {"ModeCmdType 3", modeCmd, getModeCmd, 3, 0},
        {"ModeCmdType -5 (no lower bound)", modeCmd, getModeCmd, -5, -5},
    };
    for (const Case& c : cases) {
        TKsCdPlayer player(TKsCdPlayer::Engines{});
        c.set(player, c.value);
        EXPECT_EQ(c.get(player), c.expected) << c.name;
    }
}

TEST_F(PlayerTest, DriveIndexesOutsideTheRangeAreIgnored)
{
    for (const int bad : {-1, 26, 1000}) {
        player->SetReadAtOnce(bad, 9);
        EXPECT_EQ(player->GetReadAtOnce(bad), 0);
        EXPECT_EQ(player->GetPlayMode(bad), pmNone);
        EXPECT_EQ(player->GetAWaitFirst(bad), 0u);
        EXPECT_FALSE(player->GetUseSpti(bad));
    }
    EXPECT_EQ(player->GetReadAtOnce(25), 25) << "defaults hold for every drive";
    EXPECT_EQ(player->GetAWaitFirst(25), 200u);
    EXPECT_TRUE(player->GetUseNormalizer(25));
}

TEST(PlayerPlayMode, FallsBackToWhatTheDriveOffers)
{
    struct Case {
        bool mci, aspi, spti;
        PlayModes requested, stored;
    };
    const Case cases[] = {
        {true, true, true, pmDigital, pmDigital}, {true, false, false, pmDigital, pmMci},
        {false, false, false, pmDigital, pmNone}, {false, false, true, pmAnalog, pmAnalog},
        {true, true, false, pmMci, pmMci},        {false, true, false, pmMci, pmAnalog},
        {false, false, false, pmMci, pmNone},     {true, false, false, pmNone, pmMci},
    };
    for (const Case& c : cases) {
        TKsCdPlayer::Engines engines;
        engines.drives =
            std::make_unique<FakeDriveList>(std::vector<FakeDriveList::Drive>{{"D:", c.mci, c.aspi, c.spti}});
        TKsCdPlayer player(std::move(engines));
        player.GetCdDrives();
        player.SetPlayMode(0, c.requested);
        EXPECT_EQ(player.GetPlayMode(0), c.stored) << c.mci << c.aspi << c.spti << " asked " << int(c.requested);
    }
}

TEST_F(PlayerTest, ScanSetsTransportsAndModes)
{
    EXPECT_EQ(driveList->lastSelector, 0);
    EXPECT_TRUE(driveList->lastAddNonLettered);
    EXPECT_EQ(player->GetPlayMode(0), pmMci);
    EXPECT_EQ(player->GetPlayMode(1), pmAnalog) << "no CD-audio device on E:";
    EXPECT_FALSE(player->GetUseSpti(0)) << "ASPI preferred where offered";

    player->NoMci = true;
    player->NoAspi = true;
    EXPECT_EQ(player->GetCdDrives(), 4);
    EXPECT_EQ(driveList->lastSelector, 2);
    EXPECT_EQ(player->GetPlayMode(0), pmAnalog);
    EXPECT_FALSE(player->GetMciAvails(0));
    player->NoSpti = true;
    player->GetCdDrives();
    EXPECT_EQ(driveList->lastSelector, 5);

    EXPECT_EQ(player->GetDriveIndex("F:"), 2);
    EXPECT_EQ(player->GetDriveIndex("Z:"), -1);
    EXPECT_EQ(player->GetDriveLetter(9), "");
    std::vector<std::string> letters{"stale"};
    EXPECT_TRUE(player->GetDriveLetters(&letters));
    EXPECT_EQ(letters, (std::vector<std::string>{"D:", "E:", "F:", "G:"}));
    EXPECT_FALSE(player->GetDriveLetters(nullptr));
}

TEST_F(PlayerTest, UseSptiNeedsBothTransportsAndNoPlay)
{
    player->SetUseSpti(0, true);
    EXPECT_TRUE(player->GetUseSpti(0));
    player->SetUseSpti(1, true); // E: has no SPTI
    EXPECT_FALSE(player->GetUseSpti(1));
    player->SetPlayMode(0, pmDigital); // storing a SCSI mode turns SPTI off where ASPI is offered
    EXPECT_FALSE(player->GetUseSpti(0));
}

TEST_F(PlayerTest, VolumeTables)
{
    EXPECT_EQ(player->AnalogVol(0), 255);
    EXPECT_EQ(player->AnalogVol(4), 128);
    EXPECT_EQ(player->AnalogVol(15), 0);
    EXPECT_FLOAT_EQ(player->DigitalVol(0), 1.0f);
    EXPECT_FLOAT_EQ(player->DigitalVol(5), static_cast<float>(std::pow(10.0, -0.595)));
    EXPECT_FLOAT_EQ(player->DigitalVol(14), static_cast<float>(std::pow(10.0, -2.105)));
    EXPECT_FLOAT_EQ(player->DigitalVol(15), 0.0f);
    const std::uint8_t table[16] = {255, 127, 0, 1};
    player->SetDigitalVol(table);
    EXPECT_FLOAT_EQ(player->DigitalVol(0), 1.0f);
    EXPECT_FLOAT_EQ(player->DigitalVol(1), 0.5f);
    EXPECT_FLOAT_EQ(player->DigitalVol(2), 0.0f);
    EXPECT_FLOAT_EQ(player->DigitalVol(3), 2.0f / 256);
}

TEST_F(PlayerTest, SpeedCodesAndLimits)
{
    player->SetSpeed(11);
    EXPECT_EQ(player->GetSpeed(), 0);
    EXPECT_CALL(*digital, SetSpeed(4095)).WillOnce(Return(false));
    player->SetSpeed(4095);
    EXPECT_EQ(player->GetSpeed(), 4095) << "kept even when the engine refuses it";
    player->SetMaxSpeed(6);
    player->SetMinSpeed(-3);
    player->SetSpeedChangeInterval(0);
    EXPECT_CALL(*digital, SetRandomSpeed(6, -2, 10));
    EXPECT_CALL(*digital, SetSpeed(255)).WillOnce(Return(true));
    player->SetSpeed(255);
    EXPECT_EQ(player->GetSpeed(), 255);
    EXPECT_CALL(*digital, SetSpeed(2)).WillOnce(Return(false));
    player->SetSpeed(2);
    EXPECT_EQ(player->GetSpeed(), 255) << "kept when the engine refuses";
}

} // namespace
} // namespace vantrel::testing
