// The controlling operations against the emulated drive: analog play with its position
// and status, the fallbacks of play and stop, mode pages (routing, volumes, density),
// read speeds, the tray, INQUIRY and the vendor sub-code read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "VirtualTransport.h"

namespace vantrel::test {
namespace {

constexpr std::uint8_t kPlaying = 0x11, kPaused = 0x12, kCompleted = 0x13, kNoStatus = 0x15;

// ---- analog play ----

TEST(ScsiAnalogPlay, PositionAndStatusFollowTheClock)
{
    Rig rig;
    std::int64_t now = 0;
    rig.drive.SetClock([&now] { return now; });
    auto& t = rig.transport;

    ASSERT_TRUE(PlayRange(t, rig.cd, Address(0, 7, 0), Address(0, 11, 0)));
    EXPECT_EQ(t.Opcodes(), std::vector<std::uint8_t>{0x47});
    EXPECT_EQ(AudioStatus(t, rig.cd), kPlaying);

    now = 1000; // 75 frames later
    std::uint32_t absolute = 0, relative = 0;
    std::uint8_t track = 0;
    ASSERT_TRUE(ReadPosition(t, rig.cd, absolute, relative, track));
    EXPECT_EQ(absolute, 0x00000800u); // 0 M S F, big-endian
    EXPECT_EQ(relative, 0x00000100u);
    EXPECT_EQ(PositionAddress(absolute), Address(0, 8, 0));
    EXPECT_EQ(track, 2);

    ASSERT_TRUE(Pause(t, rig.cd));
    EXPECT_EQ(AudioStatus(t, rig.cd), kPaused);
    now = 3000;
    ASSERT_TRUE(ReadPosition(t, rig.cd, absolute, relative, track));
    EXPECT_EQ(PositionAddress(absolute), Address(0, 8, 0));

    ASSERT_TRUE(Resume(t, rig.cd));
    now = 4000;
    ASSERT_TRUE(ReadPosition(t, rig.cd, absolute, relative, track));
    EXPECT_EQ(PositionAddress(absolute), Address(0, 9, 0));
    EXPECT_EQ(PositionAddress(relative), Address(0, 2, 0));

    now = 60000; // past the end
    EXPECT_EQ(AudioStatus(t, rig.cd), kCompleted);
    EXPECT_EQ(AudioStatus(t, rig.cd), kNoStatus);

    ASSERT_TRUE(PlayRange(t, rig.cd, Address(0, 2, 0), Address(0, 7, 0)));
    ASSERT_TRUE(Stop(t, rig.cd));
    EXPECT_EQ(AudioStatus(t, rig.cd), kNoStatus);
    EXPECT_FALSE(Resume(t, rig.cd)); // nothing left to resume
}

TEST(ScsiAnalogPlay, StatusIsZeroWhenTheDriveCannotAnswer)
{
    Rig rig;
    rig.drive.Remove();
    EXPECT_EQ(AudioStatus(rig.transport, rig.cd), 0);
    std::uint32_t absolute = 7, relative = 7;
    std::uint8_t track = 7;
    EXPECT_FALSE(ReadPosition(rig.transport, rig.cd, absolute, relative, track));
}

TEST(ScsiAnalogPlay, PlayAndStopFallBackToTheOtherForm)
{
    struct Case {
        const char* name;
        bool playing; // a play runs before the operation
        std::vector<std::uint8_t> refused;
        std::function<bool(Rig&)> operation;
        bool succeeds;
        std::vector<std::uint8_t> opcodes;
        std::vector<std::uint8_t> lastCdb;
        std::uint8_t statusAfter;
    };
    const auto play = [](Rig& rig) { return PlayRange(rig.transport, rig.cd, Address(0, 7, 0), Address(0, 11, 0)); };
    const auto stop = [](Rig& rig) { return Stop(rig.transport, rig.cd); };
    const Case cases[] = {
        {"PLAY AUDIO MSF refused: by sector",
         false,
         {0x47},
         play,
         true,
         {0x47, 0xA5},
         {0xA5, 0x20, 0, 0, 0x01, 0x77, 0, 0, 0x01, 0x2C, 0, 0},
         kPlaying},
        {"both play forms refused", false, {0x47, 0xA5}, play, false, {0x47, 0xA5}, {}, kNoStatus},
        {"STOP refused: START STOP UNIT", true, {0x4E}, stop, true, {0x4E, 0x1B}, {0x1B, 0x21, 0, 0, 0, 0}, kNoStatus},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.drive.SetClock([] { return std::int64_t{0}; });
        if (c.playing) {
            ASSERT_TRUE(PlayRange(rig.transport, rig.cd, Address(0, 2, 0), Address(0, 7, 0)));
        }
        rig.transport.sent.clear();
        const std::vector<std::uint8_t> refused = c.refused;
        rig.transport.refuse = [refused](const std::vector<std::uint8_t>& cdb, std::uint8_t) {
            return std::find(refused.begin(), refused.end(), cdb[0]) != refused.end();
        };
        EXPECT_EQ(c.operation(rig), c.succeeds);
        EXPECT_EQ(rig.transport.Opcodes(), c.opcodes);
        if (!c.lastCdb.empty()) {
            EXPECT_EQ(rig.transport.sent.back().cdb, c.lastCdb);
        }
        EXPECT_EQ(AudioStatus(rig.transport, rig.cd), c.statusAfter);
    }
}

// The sub-code vendor command reads around the play position.
TEST(ScsiReadSubCode, RawSubChannelAtThePlayPosition)
{
    Rig rig;
    std::int64_t now = 0;
    rig.drive.SetClock([&now] { return now; });
    ASSERT_TRUE(PlayRange(rig.transport, rig.cd, Address(0, 7, 0), Address(0, 11, 0)));
    now = 1000;
    TKsParagraphBoundaryBuffer buffer(2 * 96);
    ASSERT_TRUE(ReadSubCode(rig.transport, rig.cd, 2, buffer));
    const auto* raw = reinterpret_cast<const std::uint8_t*>(buffer.Data());
    for (int i = 0; i < 2; ++i) {
        const std::vector<std::uint8_t> q = QFromRaw(raw + 96 * i);
        EXPECT_EQ(q[1], 0x02);
        EXPECT_EQ(std::vector<std::uint8_t>(q.begin() + 7, q.begin() + 10),
                  std::vector<std::uint8_t>({0, 0x08, Bcd(i)}));
    }
    TKsParagraphBoundaryBuffer small(2 * 96 - 1);
    EXPECT_FALSE(ReadSubCode(rig.transport, rig.cd, 2, small));

    Rig without(kAlbum, "families=mmc");
    EXPECT_FALSE(ReadSubCode(without.transport, without.cd, 2, buffer));
}

// ---- mode pages ----

TEST(ScsiModeCommands, FormByCommandTypeAndAnsiVersion)
{
    struct Case {
        int ansi, cmdType;
        bool ten;
    };
    for (const Case& c : {Case{2, 0, false}, Case{0, 0, true}, Case{0, 1, false}, Case{2, 2, true}, Case{2, 5, false},
                          Case{0, 5, true}}) {
        TKsCdRom drive;
        drive.Inquiry[2] = static_cast<std::uint8_t>(c.ansi);
        EXPECT_EQ(UsesTenByteModeCommands(drive, c.cmdType), c.ten) << "ansi " << c.ansi << " type " << c.cmdType;
    }
}

// Bytes 8..11 of the audio control page: selection and volume of ports 0 and 1.
std::vector<std::uint8_t> Ports(Rig& rig)
{
    const std::uint8_t cdb[10] = {0x5A, 0x08, 0x0E, 0, 0, 0, 0, 0, 32, 0}; // no block descriptors
    std::vector<std::uint8_t> data(32);
    EXPECT_EQ(rig.drive.Execute(cdb, 10, vdrive::Direction::In, data.data(), data.size()).status, vdrive::kStatusGood);
    return {data.begin() + 8 + 8, data.begin() + 8 + 12};
}

TEST(ScsiModeCommands, ChannelRoutingByStereoModeAndSwap)
{
    struct Case {
        StereoModes mode;
        bool swap;
        std::uint8_t port0, port1;
    };
    const Case cases[] = {
        {smStereo, false, 1, 2}, {smLeft, false, 1, 1}, {smRight, false, 2, 2},
        {smMix, false, 3, 3},    {smSide, false, 1, 2}, {smStereo, true, 2, 1},
        {smLeft, true, 2, 2},    {smRight, true, 1, 1}, {smMix, true, 3, 3},
    };
    struct Form {
        int cmdType;
        std::uint8_t sense, select;
    };
    // The rig's drive reports ANSI version 2: the automatic choice is the 6-byte form.
    for (const Form form : {Form{0, 0x1A, 0x15}, Form{1, 0x1A, 0x15}, Form{2, 0x5A, 0x55}}) {
        Rig rig;
        for (const Case& c : cases) {
            SCOPED_TRACE("type " + std::to_string(form.cmdType) + ", mode " + std::to_string(c.mode) +
                         (c.swap ? ", swapped" : ""));
            rig.transport.sent.clear();
            ASSERT_TRUE(SetChannels(rig.transport, rig.cd, c.mode, c.swap, form.cmdType));
            EXPECT_EQ(rig.transport.Opcodes(), std::vector<std::uint8_t>({form.sense, form.select}));
            const std::vector<std::uint8_t> ports = Ports(rig);
            EXPECT_EQ(ports[0], c.port0);
            EXPECT_EQ(ports[2], c.port1);
            EXPECT_EQ(ports[1], 255); // volumes untouched
            EXPECT_EQ(ports[3], 255);
        }
    }
}

TEST(ScsiModeCommands, PortVolumesKeepTheRouting)
{
    for (const int cmdType : {1, 2}) {
        SCOPED_TRACE(cmdType);
        Rig rig;
        ASSERT_TRUE(SetChannels(rig.transport, rig.cd, smMix, false, cmdType));
        ASSERT_TRUE(SetPortVolumes(rig.transport, rig.cd, 100, 200, cmdType));
        EXPECT_EQ(Ports(rig), std::vector<std::uint8_t>({3, 100, 3, 200}));
    }
}

TEST(ScsiModeCommands, DensitySwitchesReadTenBetweenAudioAndData)
{
    for (const int cmdType : {1, 2}) {
        SCOPED_TRACE(cmdType);
        Rig rig;
        TKsParagraphBoundaryBuffer buffer(2352);
        ASSERT_TRUE(SetDensity(rig.transport, rig.cd, 0x82, 2352, cmdType));
        const std::vector<std::uint8_t> select = cmdType == 1
                                                     ? std::vector<std::uint8_t>{0x15, 0x30, 0, 0, 12, 0}
                                                     : std::vector<std::uint8_t>{0x55, 0x30, 0, 0, 0, 0, 0, 0, 16, 0};
        EXPECT_EQ(rig.transport.sent.back().cdb, select); // parameter lengths 12 and 16
        ASSERT_TRUE(ReadSectors(rig.transport, rig.cd, RipToshiba, SubCodeNo, Frames(0, 3, 0), 1, buffer));
        EXPECT_EQ(SamplePosition(reinterpret_cast<const std::uint8_t*>(buffer.Data())), Frames(0, 3, 0) * 588);

        ASSERT_TRUE(SetDensity(rig.transport, rig.cd, 0, 2048, cmdType));
        EXPECT_FALSE(ReadSectors(rig.transport, rig.cd, RipToshiba, SubCodeNo, Frames(0, 3, 0), 1, buffer));
        EXPECT_FALSE(SetDensity(rig.transport, rig.cd, 0x82, 2000, cmdType)); // no such block length
    }
}

// ---- read speeds ----

TEST(ScsiReadSpeed, CurrentSpeedFollowsSetCdSpeed)
{
    Rig rig;
    for (const int cmdType : {1, 2})
        EXPECT_EQ(GetCurrentReadSpeed(rig.transport, rig.cd, cmdType), 7056u);
    ASSERT_TRUE(SetReadSpeed(rig.transport, rig.cd, 1411));
    EXPECT_EQ(GetCurrentReadSpeed(rig.transport, rig.cd, 0), 1411u);
    ASSERT_TRUE(SetReadSpeed(rig.transport, rig.cd, 2000)); // the drive takes the step below
    EXPECT_EQ(GetCurrentReadSpeed(rig.transport, rig.cd, 2), 1411u);

    Rig refusing;
    refusing.transport.refuse = [](const std::vector<std::uint8_t>& cdb, std::uint8_t) { return cdb[0] == 0x1A; };
    EXPECT_EQ(GetCurrentReadSpeed(refusing.transport, refusing.cd, 1), 0u);
}

TEST(ScsiReadSpeed, ListProbesSeventyTwoSteps)
{
    struct Case {
        const char* options;
        std::size_t max;
        std::vector<std::uint32_t> speeds;
        std::uint16_t lastSet;   // the speed the drive is left at
        std::size_t setCommands; // 0: not checked
    };
    const Case cases[] = {
        // 4233 rounds down to 2822 on this drive; 4234, one more, finds the next step.
        {"", 10, {706, 1411, 2822, 4234, 5645, 7056}, 12701, 0},
        {"", 3, {706, 1411, 2822}, 2822, 0},
        // Every step is tried, each twice after the first: 1 + 71 * 2 commands.
        {"ignore-speed=1", 10, {7056}, 12701, 143},
        {"", 0, {}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + ", max " + std::to_string(c.max));
        Rig rig(kAlbum, c.options);
        std::vector<std::uint32_t> list(c.max, 0);
        const std::size_t count = GetReadSpeeds(rig.transport, rig.cd, 0, list);
        list.resize(count);
        EXPECT_EQ(list, c.speeds);
        if (c.max == 0) {
            EXPECT_TRUE(rig.transport.sent.empty());
            continue;
        }
        if (c.setCommands != 0) {
            EXPECT_EQ(rig.transport.Count(0xBB), c.setCommands);
        }
        auto last = std::find_if(rig.transport.sent.rbegin(), rig.transport.sent.rend(),
                                 [](const VirtualTransport::Sent& s) { return s.cdb[0] == 0xBB; });
        ASSERT_NE(last, rig.transport.sent.rend());
        EXPECT_EQ(last->cdb[2] << 8 | last->cdb[3], c.lastSet);
    }
}

// ---- tray and identity ----

TEST(ScsiTray, EjectLoadReadyAndLock)
{
    Rig rig;
    auto& t = rig.transport;
    EXPECT_TRUE(IsReady(t, rig.cd));
    ASSERT_TRUE(Eject(t, rig.cd));
    EXPECT_TRUE(rig.drive.TrayOpen());
    EXPECT_FALSE(IsReady(t, rig.cd));
    EXPECT_EQ(t.lastSense.Asc(), 0x3A); // medium not present
    ASSERT_TRUE(Load(t, rig.cd));
    EXPECT_TRUE(IsReady(t, rig.cd));

    t.sent.clear();
    ASSERT_TRUE(LockTray(t, rig.cd, true, true));
    ASSERT_EQ(t.sent.size(), 8u);
    for (std::uint8_t lun = 0; lun < 8; ++lun) {
        EXPECT_EQ(t.sent[lun].lun, lun);
        EXPECT_EQ(t.sent[lun].cdb, std::vector<std::uint8_t>({0x1E, static_cast<std::uint8_t>(lun << 5), 0, 0, 1, 0}));
    }
    EXPECT_FALSE(Eject(t, rig.cd));
    EXPECT_FALSE(rig.drive.TrayOpen());

    t.sent.clear();
    ASSERT_TRUE(LockTray(t, rig.cd, false, false));
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0].cdb, std::vector<std::uint8_t>({0x1E, 0x20, 0, 0, 0, 0}));
    EXPECT_TRUE(Eject(t, rig.cd));
}

TEST(ScsiTray, PerLunLockStopsAtTheFirstRefusal)
{
    Rig rig;
    rig.transport.refuse = [](const std::vector<std::uint8_t>&, std::uint8_t lun) { return lun == 3; };
    EXPECT_FALSE(LockTray(rig.transport, rig.cd, true, true));
    EXPECT_EQ(rig.transport.sent.size(), 4u);
}

TEST(ScsiInquiry, KeepsTheFirstHundredBytes)
{
    Rig rig(kAlbum, "vendor=Plextor,product=PX-W4824A,revision=1.07,ansi=0");
    TKsCdRom drive;
    drive.Inquiry.fill(0xAB);
    ASSERT_TRUE(Inquiry(rig.transport, drive));
    EXPECT_EQ(drive.Vendor(), "Plextor ");
    EXPECT_EQ(drive.Product(), "PX-W4824A       ");
    EXPECT_EQ(drive.Revision(), "1.07");
    EXPECT_EQ(drive.AnsiVersion(), 0);
    EXPECT_EQ(drive.Inquiry[0], 0x05); // a CD-ROM
    EXPECT_TRUE(std::all_of(drive.Inquiry.begin() + 36, drive.Inquiry.end(), [](std::uint8_t b) { return b == 0; }));

    rig.transport.refuse = [](const std::vector<std::uint8_t>&, std::uint8_t) { return true; };
    drive.Inquiry.fill(0xAB);
    EXPECT_FALSE(Inquiry(rig.transport, drive));
    EXPECT_EQ(drive.Inquiry[0], 0xAB); // left as it was
}

} // namespace
} // namespace vantrel::test
