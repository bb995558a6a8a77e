// The CD-audio device over the emulated drive: its end notices, time formats, status and
// identity, then the player component's CD-audio path over it. The drive's clock moves
// only when the test moves it; the devices poll every 2 ms.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "EmulatedPlayer.h"
#include "drive/CdToc.h"
#include "platform/CdAudioDevice.h"
#include "platform/Message.h"

namespace vantrel {
namespace {

using platform::CdAudioDevice;
using platform::PackMsf;
using platform::PackTmsf;
using std::chrono::milliseconds;
using testing::EmulatedDisc;
using testing::EmulatedPlayer;
using Mode = CdAudioDevice::Mode;
using TimeFormat = CdAudioDevice::TimeFormat;

// Tracks of 4, 3, 5 and 2 s: starts at frames 150, 450, 675 and 1050, lead-out 1200.
const char* const kFourTracks = "disc\ntrack length=00:04:00\ntrack length=00:03:00\n"
                                "track length=00:05:00\ntrack length=00:02:00\n";
constexpr std::int64_t kTrack2 = 450, kTrack3 = 675;

// A window that keeps the notices posted to it.
class NoticeWindow {
public:
    NoticeWindow()
        : window_([this](const platform::Message& m) {
              if (m.msg == platform::MM_MCINOTIFY) {
                  notices.push_back(m.wParam);
                  devices.push_back(static_cast<std::uint32_t>(m.lParam));
              }
          })
    {
    }
    platform::MessageWindow* Window() { return &window_; }
    // Pumps until count notices came, then a little longer for any that must not come.
    void WaitFor(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (notices.size() < count && std::chrono::steady_clock::now() < deadline)
            window_.PumpFor(milliseconds(1));
        const auto settle = std::chrono::steady_clock::now() + milliseconds(30);
        while (std::chrono::steady_clock::now() < settle)
            window_.PumpFor(milliseconds(1));
    }

    std::vector<std::uintptr_t> notices;
    std::vector<std::uint32_t> devices;

private:
    platform::MessageWindow window_;
};

struct Device {
    explicit Device(const std::string& description, const std::string& options = "")
        : disc(description, options), cd(*disc.system, milliseconds(2))
    {
        EXPECT_TRUE(cd.Open("V:", id));
        device = cd.Device(id);
    }
    EmulatedDisc disc;
    TCdAudio cd;
    std::uint32_t id = 0;
    CdAudioDevice* device = nullptr;
};

TEST(CdAudioDeviceTest, NoticesFollowWhatBecomesOfThePlay)
{
    enum class Then { Nothing, Stop, Pause, PlayWithNotice, PlayWithout, OpenDoor };
    struct Case {
        const char* name;
        std::string options;
        Then then;
        std::vector<std::uintptr_t> expected;
    };
    const Case cases[] = {
        {"plays to its end", "", Then::Nothing, {CdAudioDevice::Successful}},
        {"stopped", "", Then::Stop, {CdAudioDevice::Aborted}},
        {"paused", "", Then::Pause, {CdAudioDevice::Aborted}},
        {"replaced by a play with notice",
         "",
         Then::PlayWithNotice,
         {CdAudioDevice::Superseded, CdAudioDevice::Successful}},
        {"replaced by a play without", "", Then::PlayWithout, {CdAudioDevice::Aborted}},
        {"door opened", "", Then::OpenDoor, {CdAudioDevice::Aborted}},
        {"read error", "errors=500", Then::Nothing, {CdAudioDevice::Failure}},
        {"tray opens mid-play", "tray-open-at=500", Then::Nothing, {CdAudioDevice::Failure}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NoticeWindow window; // outlives the device's notices
        Device d(kFourTracks, c.options);
        ASSERT_TRUE(d.device->PlayFrames(kTrack2, kTrack3, window.Window()));
        d.disc.Advance(milliseconds(1000));
        switch (c.then) {
        case Then::Nothing:
            break;
        case Then::Stop:
            EXPECT_TRUE(d.device->Stop());
            break;
        case Then::Pause:
            EXPECT_TRUE(d.device->Pause());
            break;
        case Then::PlayWithNotice:
            EXPECT_TRUE(d.device->PlayFrames(kTrack3, kTrack3 + 150, window.Window()));
            break;
        case Then::PlayWithout:
            EXPECT_TRUE(d.device->PlayFrames(kTrack3, kTrack3 + 150, nullptr));
            break;
        case Then::OpenDoor:
            EXPECT_TRUE(d.device->SetDoor(true));
            break;
        }
        window.WaitFor(c.expected.size() - 1);
        d.disc.Advance(milliseconds(10000));
        window.WaitFor(c.expected.size());
        EXPECT_EQ(window.notices, c.expected);
        EXPECT_EQ(window.devices, std::vector<std::uint32_t>(c.expected.size(), d.id));
    }
}

TEST(CdAudioDeviceTest, TimeFormatsForPlayPositionAndLengths)
{
    struct Case {
        TimeFormat format;
        std::uint32_t from; // track 2 plus one second
        std::uint32_t discLength, track3Length, track3Start;
    };
    const Case cases[] = {
        {TimeFormat::Milliseconds, 7000, 14000, 5000, 9000},
        {TimeFormat::Msf, PackMsf(kTrack2 + 75), PackMsf(1050), PackMsf(375), PackMsf(kTrack3)},
        {TimeFormat::Tmsf, PackTmsf(2, 75), PackMsf(1050), PackMsf(375), PackTmsf(3, 0)},
    };
    Device d(kFourTracks);
    EXPECT_EQ(d.device->GetTimeFormat(), TimeFormat::Milliseconds);
    EXPECT_EQ(PackMsf(kTrack2 + 75), 0x0700u) << "00:07:00 as minute + second * 256 + frame * 65536";
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        d.device->SetTimeFormat(c.format);
        ASSERT_TRUE(d.device->Play(c.from, std::nullopt, nullptr));
        std::uint32_t value = 0;
        EXPECT_TRUE(d.device->Position(value));
        EXPECT_EQ(value, c.from);
        EXPECT_TRUE(d.device->Length(0, value));
        EXPECT_EQ(value, c.discLength);
        EXPECT_TRUE(d.device->Length(3, value));
        EXPECT_EQ(value, c.track3Length);
        EXPECT_TRUE(d.device->TrackPosition(3, value));
        EXPECT_EQ(value, c.track3Start);
        EXPECT_FALSE(d.device->Length(5, value));
    }
    // Outside the disc, or an empty range.
    d.device->SetTimeFormat(TimeFormat::Tmsf);
    EXPECT_FALSE(d.device->Play(PackTmsf(9, 0), std::nullopt, nullptr));
    d.device->SetTimeFormat(TimeFormat::Milliseconds);
    EXPECT_FALSE(d.device->Play(0, std::nullopt, nullptr)) << "before track 1";
    EXPECT_FALSE(d.device->Play(7000, 20000, nullptr));
    EXPECT_FALSE(d.device->Play(7000, 7000, nullptr));
}

TEST(CdAudioDeviceTest, ModeFollowsPlayAndDoor)
{
    Device d(kFourTracks);
    EXPECT_EQ(d.device->GetMode(), Mode::Stopped);
    EXPECT_TRUE(d.device->MediaPresent());
    EXPECT_EQ(d.device->NumberOfTracks(), 4);

    ASSERT_TRUE(d.device->PlayFrames(kTrack2, kTrack3, nullptr));
    EXPECT_EQ(d.device->GetMode(), Mode::Playing);
    ASSERT_TRUE(d.device->Pause());
    EXPECT_EQ(d.device->GetMode(), Mode::Paused);
    d.disc.Advance(milliseconds(1000));
    ASSERT_TRUE(d.device->Resume(nullptr));
    d.disc.Advance(milliseconds(1000));
    std::int64_t frames = 0;
    EXPECT_TRUE(d.device->PositionFrames(frames));
    EXPECT_EQ(frames, kTrack2 + 75) << "the paused second does not count";
    ASSERT_TRUE(d.device->Stop());
    EXPECT_EQ(d.device->GetMode(), Mode::Stopped);

    bool open = true;
    ASSERT_TRUE(d.device->SetDoor(true));
    EXPECT_TRUE(d.disc.drive->TrayOpen());
    EXPECT_EQ(d.device->GetMode(), Mode::Open);
    EXPECT_TRUE(d.device->IsDoorOpen(open));
    EXPECT_TRUE(open);
    EXPECT_FALSE(d.device->MediaPresent());
    EXPECT_EQ(d.device->NumberOfTracks(), 0);
    EXPECT_EQ(d.device->MediaIdentity(), "");
    EXPECT_FALSE(d.device->PlayFrames(kTrack2, kTrack3, nullptr));

    ASSERT_TRUE(d.device->SetDoor(false));
    EXPECT_EQ(d.device->GetMode(), Mode::Stopped);
    EXPECT_TRUE(d.device->IsDoorOpen(open));
    EXPECT_FALSE(open);
}

TEST(CdAudioDeviceTest, MediaIdentityIsTheDiscIdentifier)
{
    struct Case {
        const char* disc;
        const char* identity; // "" to compare with the disc identifier alone
    };
    const Case cases[] = {
        {kFourTracks, "1F00"}, // 00:02:00 + 00:06:00 + 00:09:00 + 00:14:00, packed
        {"disc\ntrack length=00:30:00\n", ""},
        {"disc\ntrack length=01:00:10\ntrack length=00:02:33\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disc);
        Device d(c.disc);
        TCdToc toc;
        ASSERT_TRUE(ReadTocNormal(d.disc.system->Spti(), d.disc.rom, toc));
        EXPECT_EQ(d.device->MediaIdentity(), CdPlayerIdText(ComputeCdPlayerId(toc)));
        if (*c.identity) {
            EXPECT_EQ(d.device->MediaIdentity(), c.identity);
        }
    }
}

TEST(CdAudioDeviceTest, OpenByLetterAndClose)
{
    EmulatedDisc disc(kFourTracks);
    TCdAudio cd(*disc.system, milliseconds(2));
    std::uint32_t first = 0, second = 0;
    EXPECT_FALSE(cd.Open("Q:", first));
    ASSERT_TRUE(cd.Open("V:", first));
    ASSERT_TRUE(cd.Open("V:", second));
    EXPECT_NE(first, second);
    EXPECT_TRUE(cd.Close(first));
    EXPECT_FALSE(cd.Close(first));
    EXPECT_EQ(cd.Device(first), nullptr);
    EXPECT_FALSE(cd.Stop(first));
    EXPECT_TRUE(cd.Stop(second));

    // The Linux side opens only CD-ROM devices.
    const std::string file = disc.dir.Write("not-a-drive", "data");
    EXPECT_EQ(platform::OpenCdromDrive(file), nullptr);
    EXPECT_EQ(platform::OpenCdromDrive(disc.dir.File("missing")), nullptr);
}

// ---------------------------------------------------------------------------------
// The component's CD-audio path

class MciPlayTest : public ::testing::Test {
protected:
    MciPlayTest()
    {
        EXPECT_EQ(player.GetPlayMode(0), pmMci);
        EXPECT_TRUE(player.Open(0));
        player.SetCurrentTrack(&track1);
    }
    // Where the drive plays, absolute.
    TCdAddress DrivePosition()
    {
        TCdAddress position;
        EXPECT_TRUE(ui.cdAudio->Position(player.GetDeviceID(0), position));
        return position;
    }
    Mode DriveMode() { return ui.cdAudio->Device(player.GetDeviceID(0))->GetMode(); }

    EmulatedDisc disc{"disc\ntrack length=00:20:00\ntrack length=00:05:00\n"};
    EmulatedPlayer ui{*disc.system};
    TKsCdPlayer& player = *ui.player;
    TTrackInfo track1 = disc.Track(1), track2 = disc.Track(2);
};

TEST_F(MciPlayTest, PlayEndsWithOnPlayEnd)
{
    ASSERT_TRUE(player.Play());
    EXPECT_TRUE(player.IsPlaying());
    EXPECT_EQ(DriveMode(), Mode::Playing);
    disc.Advance(milliseconds(19900));
    ui.PumpFor(milliseconds(30));
    EXPECT_EQ(ui.ends, 0);

    disc.Advance(milliseconds(100));
    ASSERT_TRUE(ui.PumpUntil([this] { return ui.ends == 1; }));
    EXPECT_EQ(ui.errors, 0);
    EXPECT_FALSE(player.IsPlaying());
}

TEST_F(MciPlayTest, APlayReplacedByAnotherRaisesOneEnd)
{
    player.SetCurrentTrack(&track2);
    ASSERT_TRUE(player.Play());
    disc.Advance(milliseconds(1000));
    player.SetCurrentTrack(&track1);
    ASSERT_TRUE(player.Play());
    EXPECT_EQ(DrivePosition(), track1.StartAddress);

    disc.Advance(milliseconds(6000)); // the first play would be over
    ui.PumpFor(milliseconds(30));
    EXPECT_EQ(ui.ends, 0);
    EXPECT_TRUE(player.IsPlaying());

    disc.Advance(milliseconds(14000));
    ASSERT_TRUE(ui.PumpUntil([this] { return ui.ends == 1; }));
    ui.PumpFor(milliseconds(30));
    EXPECT_EQ(ui.ends, 1);
    EXPECT_EQ(ui.errors, 0);
}

TEST_F(MciPlayTest, PauseAndSeekDecideWherePlayResumes)
{
    struct Case {
        const char* name;
        bool useTimeOffset;
        std::int32_t seek; // hundredths of a second, -1 for none
        TCdAddress resumeAt;
        std::int32_t time;
    };
    // Paused two seconds into track 1, that is at 00:04:00.
    const Case cases[] = {
        {"where it stopped", false, -1, {0, 0, 4, 0}, 2000},
        {"a second later with a 75-frame time offset", true, -1, {0, 0, 5, 0}, 3000},
        {"at the seek target", false, 500, {0, 0, 7, 0}, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        player.SetUseTimeOffset(0, c.useTimeOffset);
        player.SetTimeOffset(0, 75);
        ASSERT_TRUE(player.Play());
        disc.Advance(milliseconds(2000));

        EXPECT_TRUE(player.Pause());
        EXPECT_EQ(DriveMode(), Mode::Stopped);
        disc.Advance(milliseconds(3000));
        if (c.seek >= 0) {
            EXPECT_TRUE(player.Seek(c.seek));
        }
        EXPECT_FALSE(player.Pause()) << "resumed";
        EXPECT_EQ(DrivePosition(), c.resumeAt);
        EXPECT_EQ(DriveMode(), Mode::Playing);
        EXPECT_EQ(player.GetTime(), c.time);
        ASSERT_TRUE(player.Stop());
    }
    ui.PumpFor(milliseconds(30));
    EXPECT_EQ(ui.ends + ui.errors, 0);
}

TEST_F(MciPlayTest, TrayThroughTheDevice)
{
    for (const bool opened : {true, false}) {
        SCOPED_TRACE(opened ? "device open" : "device opened for the call");
        if (!opened)
            player.Close(0);
        EXPECT_TRUE(player.IsTrayLoaded("V:"));
        EXPECT_TRUE(player.EjectTray("V:"));
        EXPECT_TRUE(disc.drive->TrayOpen());
        EXPECT_FALSE(player.IsTrayLoaded("V:"));
        EXPECT_TRUE(player.LoadTray("V:"));
        EXPECT_TRUE(disc.drive->HasDisc());
        EXPECT_TRUE(player.IsTrayLoaded("V:"));
    }
}

} // namespace
} // namespace vantrel
