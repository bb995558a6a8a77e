// Analog play through the player component: the emulated drive plays on PLAY AUDIO and
// the analog engine's thread follows it. The drive's clock moves only when the test moves
// it, so every position is exact; the engine polls every 2 ms after a 20 ms first wait.
#include <gtest/gtest.h>

#include <vector>

#include "EmulatedPlayer.h"
#include "cdg/CdgBuffer.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using testing::EmulatedDisc;
using testing::EmulatedPlayer;
using Ports = EmulatedDisc::Ports;

constexpr std::uint8_t kPlayAudioMsf = 0x47, kModeSelect10 = 0x55, kReadSubCode = 0xDF, kReadSubChannel = 0x42;
const Ports kNormalOutput{1, 255, 2, 255};

class AnalogPlayTest : public ::testing::Test {
protected:
    AnalogPlayTest()
    {
        player.SetPlayMode(0, pmAnalog);
        player.SetAWaitFirst(0, 20);
        player.SetAInterval(0, 2);
        player.SetCurrentTrack(&track);
    }

    // Plays the current track until the drive plays and the engine watches it.
    void Start()
    {
        ASSERT_TRUE(player.Play());
        ASSERT_TRUE(ui.PumpUntil([this] { return !player.IsBusy(); }));
    }
    // The play position from the drive, track-relative.
    TCdAddress Position()
    {
        EXPECT_TRUE(player.SaveCurrnetPos());
        return player.GetSavedPosition();
    }

    EmulatedDisc disc{"disc sub=raw\ntrack length=00:20:00 cdg=1\ntrack length=00:05:00\n"};
    EmulatedPlayer ui{*disc.system};
    TKsCdPlayer& player = *ui.player;
    TTrackInfo track = disc.Track(1);
};

TEST_F(AnalogPlayTest, PlayEndsAtTheTrackEndAndGivesTheOutputBack)
{
    for (const bool letterPath : {false, true}) {
        SCOPED_TRACE(letterPath ? "letter path" : "adapter path");
        player.SetUseSpti(0, letterPath);
        ASSERT_EQ(player.GetUseSpti(0), letterPath);
        ui.ends = 0;
        player.SetStereoMode(smLeft);
        ASSERT_TRUE(player.SetVolume(3, 5));

        Start();
        EXPECT_TRUE(track.Played);
        EXPECT_EQ(disc.AudioControl(), (Ports{1, 192, 1, 64}));
        EXPECT_TRUE(disc.TrayLocked());
        disc.Advance(milliseconds(19000));
        ui.PumpFor(milliseconds(30));
        EXPECT_EQ(ui.ends, 0) << "a second before the end";

        disc.Advance(milliseconds(1000));
        ASSERT_TRUE(ui.PumpUntil([this] { return ui.ends == 1; }));
        EXPECT_EQ(ui.errors, 0);
        EXPECT_FALSE(player.IsPlaying());
        EXPECT_EQ(disc.AudioControl(), kNormalOutput);
        EXPECT_FALSE(disc.TrayLocked());
    }
}

TEST_F(AnalogPlayTest, PauseSeekAndResumeMoveThePosition)
{
    Start();
    disc.Advance(milliseconds(2000));
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 2, 0}));

    ASSERT_TRUE(player.Pause());
    EXPECT_EQ(disc.Status(), 0x12);
    disc.Advance(milliseconds(3000));
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 2, 0})) << "paused";

    // A seek while paused is only remembered: the drive moves when play resumes.
    const int plays = disc.device->Count(kPlayAudioMsf);
    ASSERT_TRUE(player.Seek(500));
    EXPECT_EQ(player.GetTime(), 5000);
    EXPECT_EQ(player.GetSavedTime(), 5000);
    EXPECT_EQ(disc.device->Count(kPlayAudioMsf), plays);
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 2, 0}));

    EXPECT_FALSE(player.Pause()) << "resumed";
    EXPECT_EQ(player.GetTime(), 5000);
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 5, 0}));
    disc.Advance(milliseconds(1000));
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 6, 0}));

    ASSERT_TRUE(player.Seek(800));
    EXPECT_EQ(player.GetTime(), 8000);
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 8, 0}));
    // Past the end the drive still plays the track's last frame and reports the end.
    ASSERT_TRUE(player.Seek(2500));
    EXPECT_EQ(Position(), (TCdAddress{0, 0, 19, 74}));
    disc.Advance(milliseconds(100));
    EXPECT_TRUE(ui.PumpUntil([this] { return ui.ends == 1; }));
}

TEST_F(AnalogPlayTest, StopMidPlayRaisesNoEndEvent)
{
    struct Case {
        bool sendStop;
        std::uint8_t driveStatus;
    };
    for (const Case c : {Case{true, 0x15}, Case{false, 0x11}}) {
        SCOPED_TRACE(c.sendStop ? "stop sent" : "drive left playing");
        player.SetStereoMode(smRight);
        Start();
        disc.Advance(milliseconds(1000));
        ASSERT_TRUE(player.StopAnalog(c.sendStop));
        EXPECT_FALSE(player.IsPlaying());
        EXPECT_EQ(disc.Status(), c.driveStatus);
        EXPECT_FALSE(disc.TrayLocked());
        EXPECT_EQ(disc.AudioControl(), c.sendStop ? kNormalOutput : (Ports{2, 255, 2, 255}));
        disc.Advance(milliseconds(20000));
        ui.PumpFor(milliseconds(30));
        EXPECT_EQ(ui.ends, 0);
        EXPECT_EQ(ui.errors, 0);
    }
}

TEST_F(AnalogPlayTest, VolumeAndRoutingReachTheAudioControlPage)
{
    struct Case {
        StereoModes mode;
        bool swap;
        int left, right; // volume steps
        std::int32_t modeCmdType;
        Ports expected;
    };
    const Case cases[] = {
        {smStereo, false, 0, 0, 0, {1, 255, 2, 255}},
        {smStereo, true, 3, 5, 0, {2, 192, 1, 64}},
        {smLeft, false, 15, 0, 1, {1, 0, 1, 255}},
        {smRight, true, 0, 0, 2, {1, 255, 1, 255}},
        {smMix, false, 4, 4, 0, {3, 128, 3, 128}},
        {smSide, false, 0, 0, 0, {1, 255, 2, 255}}, // the drive cannot subtract: stereo
        {smLeft, true, 3, 5, -1, {1, 255, 2, 255}}, // mode commands off: the page is left alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << int{c.mode} << " swap " << c.swap << " type " << c.modeCmdType);
        player.SetASwapChannels(0, c.swap);
        player.SetModeCmdType(0, c.modeCmdType);
        player.SetStereoMode(c.mode);
        ASSERT_TRUE(player.SetVolume(c.left, c.right));
        const int selects = disc.device->Count(kModeSelect10) + disc.device->Count(0x15);
        Start();
        EXPECT_EQ(disc.AudioControl(), c.expected);
        if (c.modeCmdType < 0) {
            EXPECT_EQ(disc.device->Count(kModeSelect10) + disc.device->Count(0x15), selects);
        }
        ASSERT_TRUE(player.Stop());
    }
}

TEST_F(AnalogPlayTest, ChangesDuringPlayReachTheDrive)
{
    player.SetASwapChannels(0, true);
    Start();
    EXPECT_EQ(disc.AudioControl(), (Ports{2, 255, 1, 255}));

    ASSERT_TRUE(player.SetVolume(1, 2));
    EXPECT_TRUE(ui.PumpUntil([this] { return disc.AudioControl() == Ports{2, 240, 1, 224}; })) << disc.AudioControl();

    player.SetStereoMode(smMix);
    EXPECT_EQ(player.GetStereoMode(), smMix);
    EXPECT_EQ(disc.AudioControl(), (Ports{3, 240, 3, 224})) << "sent before the call returns";

    ASSERT_TRUE(player.Pause());
    player.SetStereoMode(smLeft);
    EXPECT_EQ(disc.AudioControl(), (Ports{2, 240, 2, 224})) << "also while paused; swapped";
    ASSERT_TRUE(player.Stop());
}

TEST_F(AnalogPlayTest, CdgPacksArriveDuringPlay)
{
    struct Case {
        std::uint32_t readAtOnce, dispAtOnce;
        bool packs;
    };
    const Case cases[] = {
        {1, 10, true},  // 40 packs every 10 polls
        {3, 10, true},  // 12 sectors read, 10 handed over, 2 kept for the next
        {10, 10, true}, // one hand-over per read
        {0, 10, false}, // nothing to read
        {4, 3, false},  // a read that would not fit one hand-over
    };
    player.CdgEnabled = true;
    std::vector<std::size_t> blocks;
    bool atTrackStart = true, masked = true, commands = true;
    // The sub-channel as the disc holds it (raw, the track from the start of the .sub file).
    // While the clock stands at the track start every read takes the track's first sectors
    // again, so the packs of a play are those sectors' bytes over and over, masked.
    const std::string sub = testing::TempDir::Read(disc.dir.File("disc.sub"));
    const auto first = static_cast<std::size_t>(AddressToFrames(track.StartAddress) - 150);
    std::uint32_t reading = 1;
    std::size_t handed = 0; // packs of this play before the block
    bool asOnDisc = true;
    player.OnCdgRead = [&](TKsCdPlayer&, TCdgBuffer& buffer) {
        std::unique_ptr<std::uint8_t[]> packs;
        const std::size_t n = buffer.TakeAll(packs);
        if (n == 0)
            return;
        blocks.push_back(n);
        for (std::size_t i = 0; i < n * kCdgPackBytes; ++i)
            masked = masked && packs[i] < 0x40;
        // Every other pack of the graphics track is a graphics instruction; the command
        // symbol is the one symbol the interleaving does not move. (Once the clock jumps
        // to the end, a read may reach into the next track, which has no graphics.)
        for (std::size_t p = 0; atTrackStart && p < n; ++p)
            commands = commands && packs[p * kCdgPackBytes] == (p % 2 == 0 ? 0x09 : 0x00);
        for (std::size_t i = 0; atTrackStart && i < n * kCdgPackBytes; ++i) {
            const std::size_t at = handed * kCdgPackBytes + i;
            const std::size_t sector = first + at / kSubChannelBytes % reading;
            const std::size_t onDisc = sector * kSubChannelBytes + at % kSubChannelBytes;
            asOnDisc = asOnDisc && onDisc < sub.size() && packs[i] == (static_cast<std::uint8_t>(sub[onDisc]) & 0x3F);
        }
        handed += n;
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "read " << c.readAtOnce << " hand over " << c.dispAtOnce);
        blocks.clear();
        handed = 0;
        reading = c.readAtOnce;
        ui.ends = 0;
        player.SetACdgReadAtOnce(0, c.readAtOnce);
        player.SetACdgDispAtOnce(0, c.dispAtOnce);
        const int readsBefore = disc.device->Count(kReadSubCode);
        const int pollsBefore = disc.device->Count(kReadSubChannel);
        Start();
        if (c.packs)
            EXPECT_TRUE(ui.PumpUntil([&] { return blocks.size() >= 3; }));
        else
            EXPECT_TRUE(ui.PumpUntil([&] { return disc.device->Count(kReadSubChannel) - pollsBefore >= 30; }));
        atTrackStart = false;
        disc.Advance(milliseconds(20000));
        ASSERT_TRUE(ui.PumpUntil([this] { return ui.ends == 1; }));
        atTrackStart = true;

        const auto reads = static_cast<std::size_t>(disc.device->Count(kReadSubCode) - readsBefore);
        std::size_t total = 0;
        for (const std::size_t n : blocks) {
            EXPECT_EQ(n % (c.dispAtOnce * 4), 0u);
            total += n;
        }
        if (c.packs) {
            EXPECT_EQ(total, reads * c.readAtOnce / c.dispAtOnce * c.dispAtOnce * 4);
        } else {
            EXPECT_EQ(reads, 0u);
            EXPECT_TRUE(blocks.empty());
        }
    }
    EXPECT_TRUE(masked) << "R-W symbols only, P and Q masked off";
    EXPECT_TRUE(commands);
    EXPECT_TRUE(asOnDisc) << "the disc's sub-channel where the play stands, masked";

    // Without the component's CD+G switch nothing is read.
    player.CdgEnabled = false;
    player.SetACdgReadAtOnce(0, 1);
    const int readsBefore = disc.device->Count(kReadSubCode);
    const int pollsBefore = disc.device->Count(kReadSubChannel);
    Start();
    EXPECT_TRUE(ui.PumpUntil([&] { return disc.device->Count(kReadSubChannel) - pollsBefore >= 30; }));
    ASSERT_TRUE(player.Stop());
    EXPECT_EQ(disc.device->Count(kReadSubCode), readsBefore);
}

} // namespace
} // namespace vantrel
