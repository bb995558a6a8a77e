// The table-of-contents analyses of the player component: pre-gaps found by every Q
// method on generated discs, the table rebuilt from the sub-channel, cancelling, drives
// that fail or hang mid-analysis, and the CD-audio and transport rules of GetDiscInfo.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "PlayerFixture.h"
#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "drive/DriveSystem.h"
#include "engine/KsCdPlayer.h"
#include "engine/ScsiDriveServices.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/EmulatedScsiDevice.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using ::testing::_;
using ::testing::DoAll;
using ::testing::ElementsAre;
using ::testing::Return;
using ::testing::SetArgReferee;

// Hidden audio before track 1, a track without pre-gap, a short and a long pre-gap (the
// long one around an index 2), and a data track with a pre-gap. Absolute frames: track 1
// at 375, track 2 at 1875, track 3 at 2625/2775 (index 0/1), track 4 at 3675/8925, track 5
// at 9525/9750, lead-out 10500.
const char* const kGapsDisc = "disc hidden=00:03:00\n"
                              "track length=00:20:00\n"
                              "track length=00:10:00\n"
                              "track length=00:12:00 pregap=00:02:00\n"
                              "track length=00:08:00 pregap=01:10:00 index=00:04:00\n"
                              "track length=00:10:00 pregap=00:03:00 data=1\n";
// Two audio tracks, then a data track in a second session.
const char* const kTwoSessions = "disc\n"
                                 "track length=00:10:00\n"
                                 "track length=00:10:00 pregap=00:02:00\n"
                                 "track length=00:20:00 data=1 session=2\n";

std::int64_t F(TCdAddress address)
{
    return AddressToFrames(address);
}

// Hands commands to the emulated drive, keeping the sector of every READ CD.
class LoggingDevice : public IScsiDevice {
public:
    explicit LoggingDevice(vdrive::VirtualDrive& drive) : inner_(drive) {}
    bool Execute(const ScsiRequest& request, ScsiSense& sense) override
    {
        if (request.cdb && request.cdbLength >= 6 && request.cdb[0] == 0xBE) {
            std::scoped_lock lock(mutex_);
            readCd_.push_back(static_cast<std::int32_t>(request.cdb[2] << 24 | request.cdb[3] << 16 |
                                                        request.cdb[4] << 8 | request.cdb[5]));
        }
        return inner_.Execute(request, sense);
    }
    std::vector<std::int32_t> ReadCdSectors()
    {
        std::scoped_lock lock(mutex_);
        return readCd_;
    }

private:
    vdrive::EmulatedScsiDevice inner_;
    std::mutex mutex_;
    std::vector<std::int32_t> readCd_;
};

// A disc made for the test in an emulated drive "V:" reached through the adapter path,
// and a player component over it. The drive's delay option can be made to hang from a
// chosen read on: reads before it come at once, the rest wait until the test ends.
class EmulatedToc {
public:
    explicit EmulatedToc(const std::string& description, const std::string& options = "",
                         std::chrono::milliseconds aspiWait = 10s, int fastReads = 1 << 30)
        : fastReads_(fastReads)
    {
        disc = testing::MakeTestDisc(dir, description);
        vdrive::DriveOptions driveOptions;
        std::string error;
        EXPECT_TRUE(vdrive::ParseDriveOptions(options, driveOptions, error)) << error;
        drive = std::make_unique<vdrive::VirtualDrive>(driveOptions);
        drive->SetSleep([this](int ms) {
            std::unique_lock lock(mutex_);
            if (fastReads_-- > 0)
                return;
            wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return released_; });
        });
        drive->Insert(disc);
        device = std::make_unique<LoggingDevice>(*drive);
        // An empty sysfs tree: no real drives take part.
        system = std::make_unique<TDriveSystem>(std::vector<TDriveSystem::Emulated>{{device.get(), "V:"}},
                                                dir.Path().string(), aspiWait);
        TKsCdPlayer::Engines engines;
        engines.drives = std::make_unique<TScsiDriveList>(*system);
        engines.commands = std::make_unique<TScsiDriveCommands>(*system);
        player = std::make_unique<TKsCdPlayer>(std::move(engines));
        player->NoMci = true;
        EXPECT_EQ(player->GetCdDrives(), 1);
        // Every analysis reports to a sink that keeps the notification codes.
        player->SetProgressFactory([this](TKsCdPlayer&) {
            return std::make_unique<TProgressSink>([this](int code, int) {
                codes.push_back(code);
                if (onNotify)
                    onNotify(code);
            });
        });
    }
    ~EmulatedToc()
    {
        player.reset();
        {
            std::scoped_lock lock(mutex_);
            released_ = true;
        }
        wake_.notify_all(); // a hung read ends, so the adapter's worker can be joined
    }

    // Absolute frames of track n's index 0 and index 1 as generated.
    std::int64_t Gap(int n) const { return disc->FindTrack(n)->pregapStart + kLeadInFrames; }
    std::int64_t Start(int n) const { return disc->FindTrack(n)->start + kLeadInFrames; }
    std::int64_t LeadOut() const { return disc->LeadOut() + kLeadInFrames; }
    int Tracks() const { return static_cast<int>(disc->tracks.size()); }

    // The drive's own table, as read without analysis.
    TCdToc Plain(int readTocMode)
    {
        TCdToc toc;
        TCddbParams params;
        const int mode = player->GetPreGapMode(0);
        player->SetReadTocMode(0, readTocMode);
        player->SetPreGapMode(0, 0);
        EXPECT_TRUE(player->GetDiscInfo("V:", toc, params));
        player->SetPreGapMode(0, mode);
        codes.clear();
        return toc;
    }

    testing::TempDir dir;
    std::shared_ptr<const vdrive::Disc> disc;
    std::unique_ptr<vdrive::VirtualDrive> drive;
    std::unique_ptr<LoggingDevice> device;
    std::unique_ptr<TDriveSystem> system;
    std::unique_ptr<TKsCdPlayer> player;
    std::vector<int> codes;                 // written by the worker, read after the analysis
    std::function<void(int code)> onNotify; // on the worker's thread

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool released_ = false;
    int fastReads_;
};

// ---------------------------------------------------------------------------------
// Pre-gaps

TEST(TocAnalysis, PreGapsAreFoundByEveryMethodToTheFrame)
{
    struct Case {
        int method, preGapMode;
        bool dataGapFound; // READ CDDA cannot read a data track's sectors
    };
    for (const Case c : {Case{0, 1, false}, Case{1, 2, false}, Case{2, 1, true}, Case{3, 2, true}}) {
        SCOPED_TRACE(::testing::Message() << "method " << c.method << ", mode " << c.preGapMode);
        EmulatedToc e(kGapsDisc);
        e.player->SetPreGapMethod(0, c.method);
        e.player->SetPreGapMode(0, c.preGapMode);
        TCdToc toc;
        TCddbParams params;
        ASSERT_TRUE(e.player->GetDiscInfo("V:", toc, params));
        EXPECT_EQ(e.player->GetLastAnalysisStatus(), asFinished);
        EXPECT_THAT(e.codes, ElementsAre(anReset, anTotal, anStep, anStep, anStep, anStep, anFill, anFinished));
        ASSERT_EQ(toc.trackCount, 5);

        // Where each track's index 0 was found: the generated one, or the track's own
        // start where it has no pre-gap or the method cannot read it.
        std::vector<std::int64_t> gap(6);
        for (int n = 2; n <= 5; ++n)
            gap[n] = n == 5 && !c.dataGapFound ? e.Start(5) : e.Gap(n);
        EXPECT_EQ(gap[2], e.Start(2)) << "track 2 has no pre-gap";
        EXPECT_EQ(e.Start(4) - e.Gap(4), 5250) << "the long pre-gap";

        EXPECT_EQ(F(toc.tracks[0].start), e.Start(1)) << "the hidden audio stays before track 1";
        EXPECT_EQ(F(toc.tracks[0].preGapStart), 0);
        for (int n = 2; n <= 5; ++n) {
            const TCdTrackEntry& entry = toc.tracks[n - 1];
            const TCdTrackEntry& before = toc.tracks[n - 2];
            EXPECT_EQ(F(entry.preGapStart), gap[n]) << "track " << n;
            EXPECT_EQ(F(before.endBeforeGap), gap[n]) << "track " << n - 1;
            EXPECT_EQ(F(before.end), gap[n]) << "track " << n - 1 << " ends where the next pre-gap begins";
            EXPECT_EQ(F(entry.start), c.preGapMode == 1 ? gap[n] : e.Start(n)) << "track " << n;
        }
        EXPECT_EQ(F(toc.tracks[4].end), e.LeadOut());
        EXPECT_EQ(e.player->GetTrack1Address(0), e.Start(1));
        EXPECT_EQ(e.player->GetLeadOut(0, 0), e.LeadOut());
        EXPECT_EQ(params.CddbId, ComputeCddbId(e.Plain(0))) << "identifiers come from the table as read";
    }
}

TEST(TocAnalysis, FirstTrackOfALaterSessionIsNotSearched)
{
    EmulatedToc e(kTwoSessions);
    e.player->SetReadTocMode(0, 1);
    e.player->SetPreGapMode(0, 1);
    e.player->SetPreGapMethod(0, 2);
    TCdToc toc;
    TCddbParams params;
    ASSERT_TRUE(e.player->GetDiscInfo("V:", toc, params));
    EXPECT_EQ(e.player->GetLastAnalysisStatus(), asFinished);
    ASSERT_EQ(toc.sessionCount, 2);
    EXPECT_EQ(F(toc.tracks[1].start), e.Gap(2)) << "track 2 starts at its index 0";
    EXPECT_EQ(F(toc.tracks[0].end), e.Gap(2));
    EXPECT_EQ(F(toc.tracks[2].start), e.Start(3)) << "the data track keeps its table values";
    EXPECT_EQ(F(toc.tracks[2].preGapStart), e.Start(3));
    EXPECT_EQ(F(toc.tracks[1].end), F(toc.sessions[0].leadOut));
    const std::int64_t sessionOneEnd = F(toc.sessions[0].leadOut) - kLeadInFrames;
    for (const std::int32_t sector : e.device->ReadCdSectors())
        EXPECT_LT(sector, sessionOneEnd) << "a read beyond the first session";
    EXPECT_EQ(e.player->GetLeadOut(0, 1), F(toc.sessions[0].leadOut));
    EXPECT_EQ(e.player->GetLeadOut(0, 2), e.LeadOut());
}

// ---------------------------------------------------------------------------------
// The table from the sub-channel

TEST(TocAnalysis, ManualTableMatchesTheGeneratedOne)
{
    for (const char* description : {kGapsDisc, kTwoSessions}) {
        EmulatedToc e(description);
        const TCdToc advanced = e.Plain(1);
        TCdToc toc;
        TCddbParams params;
        ASSERT_TRUE(e.player->GetTocManual("V:", toc, params));
        EXPECT_EQ(e.player->GetLastAnalysisStatus(), asFinished);
        const int tracks = e.Tracks();
        ASSERT_EQ(toc.trackCount, tracks);
        for (int n = 1; n <= tracks; ++n) {
            SCOPED_TRACE(::testing::Message() << "track " << n);
            const TCdTrackEntry& entry = toc.tracks[n - 1];
            EXPECT_EQ(F(entry.start), e.Start(n));
            EXPECT_EQ(F(entry.end), n < tracks && e.disc->FindTrack(n + 1)->session == e.disc->FindTrack(n)->session
                                        ? e.Start(n + 1)
                                        : F(toc.sessions[entry.session - 1].leadOut));
            EXPECT_EQ(entry.dataTrack, n == tracks ? 1 : 0);
            EXPECT_EQ(entry.trackNumber, n);
            EXPECT_EQ(entry.session, e.disc->FindTrack(n)->session);
        }
        EXPECT_EQ(F(toc.leadOut), e.LeadOut());
        EXPECT_EQ(std::memcmp(&toc, &advanced, sizeof toc), 0) << "the drive's own full table, byte for byte";
        const TCddbParams expected = MakeCddbParams(advanced);
        EXPECT_EQ(params.CddbId, expected.CddbId);
        EXPECT_EQ(params.CdPlayerId, expected.CdPlayerId);
        EXPECT_EQ(params.Frames, expected.Frames);
        EXPECT_EQ(e.player->GetTrack1Address(0), e.Start(1));
        EXPECT_EQ(e.player->GetLeadOut(0, 0), e.LeadOut());
    }
}

TEST(TocAnalysis, ManualTableThenPreGaps)
{
    EmulatedToc e(kGapsDisc);
    e.player->SetPreGapMode(0, 2);
    e.player->SetPreGapMethod(0, 3);
    TCdToc toc;
    TCddbParams params;
    ASSERT_TRUE(e.player->GetTocManual("V:", toc, params));
    EXPECT_EQ(F(toc.tracks[2].start), e.Start(3));
    EXPECT_EQ(F(toc.tracks[1].end), e.Gap(3));
    EXPECT_EQ(F(toc.tracks[2].end), e.Gap(4));
    EXPECT_EQ(params.CddbId, ComputeCddbId(e.Plain(1))) << "identifiers from the table before the pre-gaps";
}

// ---------------------------------------------------------------------------------
// Cancel

TEST(TocAnalysis, CancelledPreGapAnalysisMovesNoStartOrEnd)
{
    // The cancel comes before the search of track `cancelAt`; earlier results stay.
    for (const int cancelAt : {2, 4}) {
        SCOPED_TRACE(::testing::Message() << "cancel before track " << cancelAt);
        EmulatedToc e(kGapsDisc);
        const TCdToc plain = e.Plain(0);
        e.player->CancelDlgOpeartion(); // no analysis runs: nothing to cancel
        e.player->SetPreGapMode(0, 1);
        e.player->SetPreGapMethod(0, 3);
        int steps = 0;
        e.onNotify = [&](int code) {
            if (code == anStep && ++steps == cancelAt - 1)
                e.player->CancelDlgOpeartion();
        };
        TCdToc toc;
        TCddbParams params;
        EXPECT_TRUE(e.player->GetDiscInfo("V:", toc, params));
        EXPECT_EQ(e.player->GetLastAnalysisStatus(), asCancel);
        EXPECT_EQ(e.player->GetAnalysisStatus(), asIdle);
        ASSERT_FALSE(e.codes.empty());
        EXPECT_EQ(e.codes.back(), anCancelled);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(toc.tracks[i].start, plain.tracks[i].start) << i;
            EXPECT_EQ(toc.tracks[i].end, plain.tracks[i].end) << i;
            const int n = i + 1;
            const bool searched = n >= 2 && n < cancelAt;
            EXPECT_EQ(F(toc.tracks[i].preGapStart), searched ? e.Gap(n) : F(plain.tracks[i].preGapStart)) << i;
        }
        if (cancelAt == 2) {
            EXPECT_EQ(std::memcmp(&toc, &plain, sizeof toc), 0) << "cancelled before any search: nothing changed";
        }
    }
}

TEST(TocAnalysis, CancelledTableAnalysisFails)
{
    EmulatedToc e(kGapsDisc);
    e.onNotify = [&](int code) {
        if (code == anStep)
            e.player->CancelDlgOpeartion();
    };
    TCdToc toc;
    TCddbParams params;
    EXPECT_FALSE(e.player->GetTocManual("V:", toc, params));
    EXPECT_EQ(e.player->GetLastAnalysisStatus(), asCancel);
    EXPECT_EQ(e.codes.back(), anCancelled);
    EXPECT_EQ(toc.trackCount, 0);
    EXPECT_EQ(params.CddbId, 0u);
}

// ---------------------------------------------------------------------------------
// Drives that fail

TEST(TocAnalysis, DriveThatFailsOrHangsMidAnalysisEndsItFailed)
{
    // Sector 2325 (absolute 2475) is the first Q read of track 3's search: two thirds
    // from track 2's start (1875) to track 3's (2775). The hanging drive answers three
    // reads, then takes a minute over each; the adapter path gives up after 300 ms.
    struct Case {
        const char* name;
        const char* options;
        int method;
        std::chrono::milliseconds wait;
        int fastReads;
    };
    const Case cases[] = {
        {"read error, READ CDDA", "errors=2325", 1, 10s, 1 << 30},
        {"read error, READ CD", "errors=2325", 2, 10s, 1 << 30},
        {"read error, automatic", "errors=2325", 0, 10s, 1 << 30},
        {"hang, READ CDDA", "delay=60000", 1, 300ms, 3},
        {"hang, automatic", "delay=60000", 0, 300ms, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmulatedToc e(kGapsDisc, c.options, c.wait, c.fastReads);
        const TCdToc plain = e.Plain(0);
        e.player->SetPreGapMode(0, 1);
        e.player->SetPreGapMethod(0, c.method);
        TCdToc toc;
        TCddbParams params;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(e.player->GetDiscInfo("V:", toc, params)) << "the table itself was read";
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_EQ(e.player->GetLastAnalysisStatus(), asFailed);
        ASSERT_FALSE(e.codes.empty());
        EXPECT_EQ(e.codes.back(), anFailed);
        EXPECT_GE(std::count(e.codes.begin(), e.codes.end(), anStep), 1) << "it failed mid-analysis";
        EXPECT_EQ(std::memcmp(&toc, &plain, sizeof toc), 0) << "the table as read, without pre-gaps";
    }
}

// ---------------------------------------------------------------------------------
// The searches over a scripted sub-channel

TEST(TocAnalysis, SearchesStepOverFramesWithoutAPosition)
{
    // Track 1 from 150, track 2's index 0 at 1000 and index 1 at 1100, lead-out 2000.
    // Every seventh frame carries a catalogue number (ADR 2) instead of a position;
    // `noPosition` makes every frame do so.
    struct Case {
        int method;
        bool noPosition;
    };
    for (const Case c : {Case{1, false}, Case{3, false}, Case{1, true}, Case{3, true}}) {
        SCOPED_TRACE(::testing::Message() << "method " << c.method << (c.noPosition ? ", no position" : ""));
        int reads = 0;
        const TQReader read = [&](int, std::int64_t frame, TQRecord& q) {
            ++reads;
            q.fill(0);
            q[0] = c.noPosition || frame % 7 == 0 ? 0x02 : 0x01;
            q[1] = frame < 1000 ? 1 : frame < 2000 ? 2 : 0xAA;
            q[2] = frame >= 1000 && frame < 1100 ? 0 : 1;
            q[0] |= frame >= 1000 ? 0x80 : 0x00; // track 2 has four channels
            q[7] = static_cast<std::uint8_t>(frame / 4500);
            q[8] = static_cast<std::uint8_t>(frame / 75 % 60);
            q[9] = static_cast<std::uint8_t>(frame % 75);
            return QRead::Ok;
        };
        std::atomic<std::uint8_t> status{asIdle};
        std::int64_t gap = 0;
        const TSearchResult indexZero = GetIndexZeroPos(read, c.method, gap, 1100, 150, 2, &status);
        if (c.noPosition) {
            EXPECT_EQ(indexZero, TSearchResult::NotFound);
            EXPECT_EQ(reads, c.method == 3 ? 500 : 100) << "the read budget";
        } else {
            ASSERT_EQ(indexZero, TSearchResult::Found);
            EXPECT_EQ(gap, 1000);
        }
        reads = 0;
        std::int64_t start = 0;
        std::uint8_t control = 0;
        const TSearchResult index1 = GetTrackStartPos(read, control, start, 2000, 150, 2, status);
        if (c.noPosition) {
            EXPECT_EQ(index1, TSearchResult::NotFound);
            EXPECT_EQ(reads, 500);
        } else {
            ASSERT_EQ(index1, TSearchResult::Found);
            EXPECT_EQ(start, 1100);
            EXPECT_EQ(control, 0x8);
        }
    }
}

TEST(TocAnalysis, ProgressCountsStepsAndFillsTheBar)
{
    TProgressState state;
    state.baseCaption = state.caption = "Scan";
    EXPECT_FALSE(state.Apply(anReset, 0));
    EXPECT_FALSE(state.Apply(anTotal, 5));
    EXPECT_EQ(state.caption, "Scan... (1/5)");
    EXPECT_EQ(state.barMax, 6);
    EXPECT_EQ(state.barPos, 1);
    state.Apply(anStep, 0);
    state.Apply(anStep, 0);
    EXPECT_EQ(state.caption, "Scan... (3/5)");
    EXPECT_EQ(state.barPos, 3);
    state.Apply(anFill, 0);
    EXPECT_EQ(state.barPos, 6);
    state.Apply(anAdvance, 0);
    EXPECT_EQ(state.barPos, 6) << "never past the maximum";
    state.Apply(anReset, 0);
    state.Apply(anTotal, 1);
    EXPECT_EQ(state.barMax, 2);
    EXPECT_EQ(state.barPos, 0) << "a single step starts empty";
    for (const int closing : {anFailed, anFinished, anCancelled})
        EXPECT_TRUE(state.Apply(closing, 0));
}

// ---------------------------------------------------------------------------------
// GetDiscInfo over test doubles: the CD-audio device and the transports

class DiscInfoTest : public testing::PlayerTest {
protected:
    // The CD-audio device's disc: two tracks at 00:02:00 and 01:00:00, the second 02:00:00
    // long as the device reports it (one frame short), the second a data track.
    void DeviceDisc(const std::string& identity, std::uint32_t serial)
    {
        ON_CALL(*cd, MediaIdentity).WillByDefault(DoAll(SetArgReferee<1>(identity), Return(true)));
        ON_CALL(*cd, SetTimeFormatMsf).WillByDefault(Return(true));
        ON_CALL(*cd, TrackCount).WillByDefault(DoAll(SetArgReferee<1>(2), Return(true)));
        ON_CALL(*cd, TrackStart(_, 1, _)).WillByDefault(DoAll(SetArgReferee<2>(TCdAddress{0, 0, 2, 0}), Return(true)));
        ON_CALL(*cd, TrackStart(_, 2, _)).WillByDefault(DoAll(SetArgReferee<2>(TCdAddress{0, 1, 0, 0}), Return(true)));
        ON_CALL(*cd, TrackIsAudio(_, 1, _)).WillByDefault(DoAll(SetArgReferee<2>(true), Return(true)));
        ON_CALL(*cd, TrackIsAudio(_, 2, _)).WillByDefault(DoAll(SetArgReferee<2>(false), Return(true)));
        ON_CALL(*cd, TrackLength(_, 2, _))
            .WillByDefault(DoAll(SetArgReferee<2>(TCdAddress{0, 1, 59, 74}), Return(true)));
        ON_CALL(*cd, VolumeSerial).WillByDefault(Return(serial));
    }
};

TEST_F(DiscInfoTest, WithoutScsiTheDeviceTableAndIdentityAreUsed)
{
    struct Case {
        const char* identity;
        std::uint32_t serial, cdPlayerId;
    };
    for (const Case c : {Case{"305419896", 7, 305419896}, Case{"", 7, 7}, Case{"12AB", 7, 7}}) {
        SCOPED_TRACE(c.identity);
        DeviceDisc(c.identity, c.serial);
        player->SetPreGapMode(2, 1);
        EXPECT_CALL(*commands, ReadQ).Times(0);
        EXPECT_CALL(*commands, LockTray).Times(0);
        TCdToc toc;
        TCddbParams params;
        params.Frames = "kept";
        ASSERT_TRUE(player->GetDiscInfo("F:", toc, params));
        ASSERT_EQ(toc.trackCount, 2);
        EXPECT_EQ(F(toc.tracks[0].end), 4500);
        EXPECT_EQ(toc.tracks[1].dataTrack, 1);
        EXPECT_EQ(F(toc.leadOut), 4500 + 8999 + 1) << "the device's length is one frame short";
        EXPECT_EQ(F(toc.tracks[1].end), F(toc.leadOut));
        EXPECT_EQ(toc.sessionCount, 0);
        EXPECT_EQ(params.CdPlayerId, c.cdPlayerId);
        EXPECT_EQ(params.CddbId, ComputeCddbId(toc));
        EXPECT_EQ(params.TotalSeconds, 180u);
        EXPECT_EQ(params.Frames, "kept") << "the frames text comes only from a SCSI table";
        EXPECT_EQ(player->GetLastAnalysisStatus(), asIdle) << "no analysis ran";
        EXPECT_EQ(player->GetLeadOut(2, 0), 13500);
        ::testing::Mock::VerifyAndClearExpectations(commands);
    }
}

TEST_F(DiscInfoTest, FullTableRefusedFallsBackToTheNormalForm)
{
    TCdToc normal{};
    normal.firstTrack = normal.lastTrack = normal.trackCount = 1;
    normal.tracks[0].start = TCdAddress{0, 0, 2, 0};
    normal.tracks[0].end = normal.tracks[1].start = normal.leadOut = TCdAddress{0, 3, 0, 0};
    EXPECT_CALL(*commands, ReadTocAdvanced(1, Transport::Aspi, false, _)).WillOnce(Return(false));
    EXPECT_CALL(*commands, ReadTocNormal(1, Transport::Aspi, _))
        .WillOnce(DoAll(SetArgReferee<2>(normal), Return(true)));
    player->SetReadTocMode(1, 1);
    TCdToc toc;
    TCddbParams params;
    ASSERT_TRUE(player->GetDiscInfo("E:", toc, params));
    EXPECT_EQ(toc.sessionCount, 0);
    EXPECT_EQ(params.CddbId, (2u << 24) + (178u << 8) + 1);
    EXPECT_EQ(params.CdPlayerId, 13862u);
    EXPECT_EQ(params.Frames, "");
    EXPECT_EQ(player->GetTrack1Address(1), 150);
}

TEST_F(DiscInfoTest, NoWayToTheDiscFails)
{
    TCdToc toc;
    TCddbParams params;
    EXPECT_FALSE(player->GetDiscInfo("G:", toc, params));
    EXPECT_FALSE(player->GetDiscInfo("Q:", toc, params));
    EXPECT_FALSE(player->GetTocManual("Q:", toc, params));
    EXPECT_FALSE(player->GetTocManual("G:", toc, params)) << "no transport: the analysis fails";
    EXPECT_EQ(player->GetLastAnalysisStatus(), asFailed);
}

TEST_F(DiscInfoTest, CdTextGoesThroughTheAdapterPathWhereThereIsOne)
{
    player->SetPlayMode(0, pmDigital);
    player->SetUseSpti(0, true);
    ASSERT_TRUE(player->GetUseSpti(0));
    EXPECT_CALL(*commands, ReadCdText(0, Transport::Aspi, _, 8, _))
        .WillOnce([](int, Transport, std::uint8_t* buffer, std::size_t, std::size_t& length) {
            buffer[0] = 0x12;
            length = 22;
            return true;
        });
    std::uint8_t buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    std::size_t length = 99;
    EXPECT_TRUE(player->ReadCdText("D:", buffer, sizeof buffer, length));
    EXPECT_EQ(length, 22u);
    EXPECT_EQ(buffer[0], 0x12);
    EXPECT_EQ(buffer[7], 0) << "zero-filled first";
    EXPECT_FALSE(player->ReadCdText("G:", buffer, sizeof buffer, length));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(player->ReadCdText("Q:", buffer, sizeof buffer, length));
}

TEST(TocAnalysis, CdTextFromTheEmulatedDrive)
{
    EmulatedToc e("disc title=\"Album\"\ntrack length=00:10:00 title=\"One\"\n");
    std::vector<std::uint8_t> buffer(4096);
    std::size_t length = 0;
    ASSERT_TRUE(e.player->ReadCdText("V:", buffer.data(), buffer.size(), length));
    EXPECT_GT(length, 4u + 3 * 18) << "header and packs";
    EXPECT_EQ(buffer[4], 0x80) << "the first pack is a title";
}

} // namespace
} // namespace vantrel
