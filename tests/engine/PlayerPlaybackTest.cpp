#include <atomic>
#include <filesystem>
#include <thread>

#include "PlayerFixture.h"
#include "platform/Event.h"

namespace vantrel::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::_;

// Runs f on another thread, as an engine's worker would, and waits for it.
template <class F> void OnWorker(F f)
{
    std::thread worker(f);
    worker.join();
}

TEST_F(PlayerTest, DigitalPlayGoesThroughBusyPlayingPausedAndBackToIdle)
{
    int ends = 0;
    player->OnPlayEnd = [&](TKsCdPlayer&) { ++ends; };
    EXPECT_CALL(*digital, SetDrive(0, Transport::Aspi, 150, 13500)).Times(2);
    ASSERT_TRUE(StartOn(pmDigital));
    EXPECT_TRUE(player->IsBusy());
    EXPECT_TRUE(player->IsPlaying());
    EXPECT_TRUE(track.Played);
    EXPECT_EQ(player->Tag, pmDigital);
    EXPECT_FALSE(player->Stop()) << "nothing is accepted while the start is under way";
    EXPECT_FALSE(player->Pause());
    EXPECT_FALSE(player->Seek(100));
    EXPECT_FALSE(player->Play());

    OnWorker([&] { TKsCdPlayer::DcdInProc(dnRunning, 0, player.get()); });
    EXPECT_FALSE(player->IsBusy());
    EXPECT_TRUE(player->Pause());
    EXPECT_TRUE(player->IsPaused());
    EXPECT_FALSE(player->Pause()) << "the second call resumes";
    EXPECT_FALSE(player->IsPaused());

    OnWorker([&] { TKsCdPlayer::DcdInProc(dnEnd, 0, player.get()); });
    EXPECT_FALSE(player->IsPlaying());
    EXPECT_EQ(ends, 0) << "the event waits for the owner thread";
    EXPECT_EQ(player->Window().Pump(), 1u);
    EXPECT_EQ(ends, 1);

    ASSERT_TRUE(player->Play());
    OnWorker([&] { TKsCdPlayer::DcdInProc(dnRunning, 0, player.get()); });
    EXPECT_CALL(*digital, Stop()).WillOnce(Return(true));
    EXPECT_TRUE(player->Stop());
    EXPECT_FALSE(player->IsPlaying());
    EXPECT_FALSE(player->IsPaused());
    EXPECT_TRUE(player->Delete());
}

TEST_F(PlayerTest, EngineErrorBecomesOnPlayError)
{
    int errors = 0;
    player->OnPlayError = [&](TKsCdPlayer&) { ++errors; };
    ASSERT_TRUE(StartOn(pmDigital));
    OnWorker([&] { TKsCdPlayer::DcdInProc(dnError, 0, player.get()); });
    EXPECT_FALSE(player->IsBusy());
    player->Window().Pump();
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(player->IsPlaying());
}

TEST_F(PlayerTest, FailedStartLeavesTheComponentIdle)
{
    EXPECT_CALL(*digital, Start()).WillOnce(Return(false));
    EXPECT_FALSE(StartOn(pmDigital));
    EXPECT_FALSE(player->IsBusy());
    EXPECT_FALSE(player->IsPlaying());
    EXPECT_FALSE(track.Played);
}

TEST_F(PlayerTest, DispatchFollowsThePlayModeOfTheTracksDrive)
{
    EXPECT_CALL(*cd, Play(7, TCdAddress{0, 0, 2, 0}, TCdAddress{0, 2, 59, 74}, &player->Window()))
        .WillOnce(Return(true));
    ASSERT_TRUE(StartOn(pmMci));
    EXPECT_FALSE(player->IsBusy()) << "the CD-audio device plays at once";
    EXPECT_CALL(*cd, Stop(7));
    EXPECT_TRUE(player->Stop());

    EXPECT_CALL(*analog, SetDrive(0, Transport::Aspi, 150, 13500));
    EXPECT_CALL(*analog, Start()).WillOnce(Return(true));
    ASSERT_TRUE(StartOn(pmAnalog));
    OnWorker([&] { TKsCdPlayer::DcdInProc(dnRunning, 0, player.get()); });
    EXPECT_CALL(*analog, Stop(true)).WillOnce(Return(true));
    EXPECT_TRUE(player->Stop());

    track.DriveLetter = "G:"; // a drive with no way to play
    player->SetPlayMode(3, pmMci);
    player->SetCurrentTrack(&track);
    EXPECT_EQ(player->GetCurrentMode(), pmNone);
    EXPECT_FALSE(player->Play());
    EXPECT_FALSE(player->Stop());

    track.DriveLetter = "Q:"; // no such drive: no current track
    player->SetCurrentTrack(&track);
    EXPECT_EQ(player->GetCurrentTrack(), nullptr);
    EXPECT_EQ(player->GetCurrentDrive(), -1);
    EXPECT_FALSE(player->Play());
    EXPECT_TRUE(player->Stop());
}

TEST_F(PlayerTest, SeekConvertsHundredthsToFrames)
{
    ASSERT_TRUE(StartOn(pmDigital));
    EXPECT_FALSE(player->Seek(150)) << "busy";
    TKsCdPlayer::DcdInProc(dnRunning, 0, player.get());
    EXPECT_CALL(*digital, Seek(112)).WillOnce(Return(true));
    EXPECT_TRUE(player->Seek(150));
    EXPECT_EQ(player->GetSavedTime(), 1500);
    EXPECT_CALL(*digital, Seek(45)).WillOnce(Return(false));
    EXPECT_FALSE(player->Seek(61));
    EXPECT_EQ(player->GetSavedTime(), 1500);
}

TEST_F(PlayerTest, MciSeekWhilePausedResumesAtTheTarget)
{
    ASSERT_TRUE(StartOn(pmMci));
    ON_CALL(*cd, Position).WillByDefault([](std::uint32_t, TCdAddress& p) {
        p = TCdAddress{0, 0, 12, 0}; // 10 s into the track
        return true;
    });
    EXPECT_TRUE(player->Pause());
    EXPECT_EQ(player->GetSavedTime(), 10000);
    EXPECT_TRUE(player->Seek(2000)); // 20 s
    EXPECT_EQ(player->GetSavedPosition(), (TCdAddress{0, 0, 22, 0}));
    EXPECT_CALL(*cd, Play(7, TCdAddress{0, 0, 22, 0}, TCdAddress{0, 2, 59, 74}, _)).WillOnce(Return(true));
    EXPECT_FALSE(player->Pause());
    EXPECT_EQ(player->GetTime(), 20000);
}

TEST_F(PlayerTest, MciTimeOffsetMovesTheSavedPosition)
{
    player->SetUseTimeOffset(0, true);
    player->SetTimeOffset(0, 75);
    ASSERT_TRUE(StartOn(pmMci));
    ON_CALL(*cd, Position).WillByDefault([](std::uint32_t, TCdAddress& p) {
        p = TCdAddress{0, 0, 12, 0};
        return true;
    });
    EXPECT_TRUE(player->Pause());
    EXPECT_EQ(player->GetSavedTime(), 11000);
    EXPECT_EQ(player->GetSavedPosition(), (TCdAddress{0, 0, 13, 0}));
}

TEST_F(PlayerTest, MciNotifyCodes)
{
    struct Case {
        std::uintptr_t code;
        int ends, errors;
        bool stillPlaying;
    };
    const Case cases[] = {{1, 1, 0, false}, {8, 0, 1, false}, {2, 0, 0, true}, {4, 0, 0, true}};
    for (const Case& c : cases) {
        int ends = 0, errors = 0;
        player->OnPlayEnd = [&](TKsCdPlayer&) { ++ends; };
        player->OnPlayError = [&](TKsCdPlayer&) { ++errors; };
        ASSERT_TRUE(StartOn(pmMci));
        player->Window().Post(platform::MM_MCINOTIFY, c.code);
        player->Window().Pump();
        EXPECT_EQ(ends, c.ends) << c.code;
        EXPECT_EQ(errors, c.errors) << c.code;
        EXPECT_EQ(player->IsPlaying(), c.stillPlaying) << c.code;
        player->Stop();
    }
}

TEST_F(PlayerTest, DeviceChangeReportsTheLowestDriveLetter)
{
    struct Case {
        std::uintptr_t event;
        std::uint32_t type, mask;
        bool raised;
        const char* letter;
        bool inserted;
    };
    const Case cases[] = {
        {platform::DBT_DEVICEARRIVAL, 2, (1u << 3) | (1u << 4), true, "D:", true},
        {platform::DBT_DEVICEREMOVECOMPLETE, 2, 1u << 25, true, "Z:", false},
        {platform::DBT_DEVICEARRIVAL, 2, 1u << 0, true, "A:", true},
        {platform::DBT_DEVICEARRIVAL, 2, 1u << 26, true, "", true},
        {platform::DBT_DEVICEARRIVAL, 2, 0, true, "", true},
        {platform::DBT_DEVICEARRIVAL, 3, 1u << 3, false, "", false}, // not a volume
        {0x8001, 2, 1u << 3, false, "", false},                      // another event
    };
    for (const Case& c : cases) {
        bool raised = false;
        std::string letter;
        bool inserted = false;
        player->OnDiscChange = [&](TKsCdPlayer&, const std::string& l, bool in) {
            raised = true;
            letter = l;
            inserted = in;
        };
        player->Window().Post(platform::WM_DEVICECHANGE, c.event, platform::PackDeviceBroadcast(c.type, c.mask));
        player->Window().Pump();
        EXPECT_EQ(raised, c.raised) << c.mask;
        EXPECT_EQ(letter, c.letter) << c.mask;
        EXPECT_EQ(inserted, c.inserted) << c.mask;
    }
}

TEST_F(PlayerTest, CdgPacksReachTheApplicationThroughTheBuffer)
{
    std::size_t taken = 0;
    player->OnCdgRead = [&](TKsCdPlayer&, TCdgBuffer& buffer) {
        std::unique_ptr<std::uint8_t[]> packs;
        taken = buffer.TakeAll(packs);
        EXPECT_EQ(packs[24 * 7 + 23], 7 * 24 + 23);
    };
    std::uint8_t packs[8 * 24];
    for (int i = 0; i < 8 * 24; ++i)
        packs[i] = static_cast<std::uint8_t>(i);
    OnWorker([&] {
        TKsCdPlayer::DcdInProc(dnCdgPacks, reinterpret_cast<std::intptr_t>(packs), player.get()); // no count yet
        TKsCdPlayer::DcdInProc(dnCdgCount, 8, player.get());
        TKsCdPlayer::DcdInProc(dnCdgPacks, reinterpret_cast<std::intptr_t>(packs), player.get());
        TKsCdPlayer::DcdInProc(dnCdgPacks, reinterpret_cast<std::intptr_t>(packs), player.get()); // count used up
    });
    EXPECT_EQ(player->Window().Pump(), 1u);
    EXPECT_EQ(taken, 8u);

    player->CdgBuffer.Put(packs, 2);
    TKsCdPlayer::DcdInProc(dnCdgClear, 0, player.get());
    EXPECT_EQ(player->CdgBuffer.Count(), 0u);
}

TEST_F(PlayerTest, TimeFollowsPositionSpeedAndDirection)
{
    ASSERT_TRUE(StartOn(pmDigital));
    player->TimerProc();
    EXPECT_EQ(player->GetTime(), 0) << "no time passes while busy";
    TKsCdPlayer::DcdInProc(dnRunning, 0, player.get());
    TKsCdPlayer::DcdInProc(dnPosition, 150, player.get());
    EXPECT_EQ(player->GetTime(), 2000);
    const float ratio = 1.5f;
    TKsCdPlayer::DcdInProc(dnSpeedRatio, reinterpret_cast<std::intptr_t>(&ratio), player.get());
    player->TimerProc();
    EXPECT_EQ(player->GetTime(), 2015);
    TKsCdPlayer::DcdInProc(dnDirection, 1, player.get());
    for (int i = 0; i < 200; ++i)
        player->TimerProc();
    EXPECT_EQ(player->GetTime(), 0) << "reverse play past the start reads as 0";
    TKsCdPlayer::DcdInProc(dnDirection, 0, player.get());
    EXPECT_TRUE(player->Pause());
    player->TimerProc();
    EXPECT_EQ(player->GetTime(), 0) << "no time passes while paused";
}

TEST_F(PlayerTest, TimerRaisesTimeCountOnItsOwnThread)
{
    std::atomic<int> counts{0};
    std::atomic<std::int32_t> last{0};
    std::atomic<bool> onOwner{false};
    const auto owner = std::this_thread::get_id();
    platform::Event enough(platform::Event::Reset::Manual);
    player->OnTimeCount = [&](TKsCdPlayer&, std::int32_t time) {
        if (std::this_thread::get_id() == owner)
            return; // the 0 raised by Play itself
        last = time;
        if (++counts == 10)
            enough.Set();
    };
    player->SetInterval(0);
    EXPECT_EQ(player->GetInterval(), 10u);
    ASSERT_TRUE(StartOn(pmDigital));
    std::thread worker([&] { TKsCdPlayer::DcdInProc(dnRunning, 0, player.get()); });
    worker.join();
    player->Loaded();
    ASSERT_TRUE(enough.WaitFor(5s));
    EXPECT_TRUE(player->CmStop());
    EXPECT_FALSE(player->CmStop());
    EXPECT_GE(last.load(), 100);
    EXPECT_FALSE(onOwner.load());
}

TEST_F(PlayerTest, DriveChecksStopOrKeepThePlay)
{
    // Nothing current: always fine.
    EXPECT_TRUE(player->StopDriveCheck("D:", true));
    // Removal of the current track's drive while nothing plays: the track is dropped.
    player->SetCurrentTrack(&track);
    EXPECT_TRUE(player->DeleteDriveCheck("D:", true));
    EXPECT_EQ(player->GetCurrentTrack(), nullptr);

    ASSERT_TRUE(StartOn(pmDigital));
    EXPECT_FALSE(player->StopDriveCheck("E:", true)) << "another drive goes while a start is under way";
    TKsCdPlayer::DcdInProc(dnRunning, 0, player.get());
    EXPECT_TRUE(player->StopDriveCheck("E:", true));
    EXPECT_TRUE(player->IsPlaying());
    EXPECT_CALL(*digital, Stop()).WillOnce(Return(true));
    EXPECT_TRUE(player->StopDriveCheck("E:", false)) << "a track of another drive is about to start";
    EXPECT_FALSE(player->IsPlaying());

    ASSERT_TRUE(StartOn(pmAnalog));
    TKsCdPlayer::DcdInProc(dnRunning, 0, player.get());
    EXPECT_CALL(*analog, Stop(false)).WillOnce(Return(true));
    EXPECT_TRUE(player->DeleteDriveCheck("D:", false)) << "a new play on the same drive keeps it spinning";
    EXPECT_EQ(player->GetCurrentTrack(), nullptr);
}

TEST_F(PlayerTest, SettingsReachThePlayingEngineAndStayWhenRefused)
{
    ASSERT_TRUE(StartOn(pmDigital));
    EXPECT_CALL(*digital, SetVolumes(player->DigitalVol(3), player->DigitalVol(4))).WillOnce(Return(true));
    EXPECT_TRUE(player->SetVolume(19, 4)); // steps modulo 16
    EXPECT_EQ(player->GetLeftVolume(), 3);
    EXPECT_CALL(*digital, SetVolumes(_, _)).WillOnce(Return(false));
    EXPECT_FALSE(player->SetVolume(1, 1));
    EXPECT_EQ(player->GetLeftVolume(), 3);

    EXPECT_CALL(*digital, SetStereo(smSide)).WillOnce(Return(true));
    player->SetStereoMode(smSide);
    EXPECT_EQ(player->GetStereoMode(), smSide);
    player->SetStereoMode(5);
    EXPECT_EQ(player->GetStereoMode(), smSide);

    player->SetUseNormalizer(0, false);
    EXPECT_CALL(*digital, SetNormalizer(::testing::Field(&TNormParams::enabled, false)));
    player->SetNormParams(true, 10, 60, 33, 0, 180, 100, true, 75);
    EXPECT_TRUE(player->GetNormParams().enabled);
}

TEST_F(PlayerTest, DigitalPlayHandsOverTheDrivesSettings)
{
    player->SetMinSectorIsTrack1(0, true);
    player->SetMinSectorIsTrack1Min(0, 200);
    player->SetTrack1Address(0, 182); // below the minimum: MinSector stays
    player->SetMinSector(0, 33);
    player->SetMaxSectorMode(0, 2);
    player->SetLeadOut(0, 0, 90000);
    player->SetLeadOut(0, 1, 60000);
    track.Session = 1;
    track.PreEmphasis = true;
    player->DeEmphasize = true;
    player->SetWaveOutputFormat(3);
    player->SetInternalFormat(4);
    EXPECT_CALL(*digital, SetMinFrame(33));
    EXPECT_CALL(*digital, SetMaxFrame(60000));
    EXPECT_CALL(*digital, SetDeEmphasis(true));
    EXPECT_CALL(*digital, SetOutputKind(0));
    EXPECT_CALL(*digital, SetOutputFormat(4, false)); // INT32
    EXPECT_CALL(*digital, SetInternalFormat(7));      // FLOAT32 on the 16-bit scale
    EXPECT_CALL(*digital, SetOverlaps(5, 2));
    EXPECT_TRUE(StartOn(pmDigital));
}

TEST_F(PlayerTest, DiskWriterPlayWritesUnderTheRootFolder)
{
    char pattern[] = "/tmp/vantrel-wav-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    player->DiskWriterEnable = true;
    player->DiskWriterRootDir = root;
    track.AlbumTitle = "../../etc";
    track.Title = "A/B: live?";
    EXPECT_CALL(*digital, SetOutputKind(3));
    EXPECT_CALL(*digital, SetFileName(root + "/etc/A/B- live-.wav"));
    EXPECT_TRUE(StartOn(pmDigital));
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace vantrel::testing
