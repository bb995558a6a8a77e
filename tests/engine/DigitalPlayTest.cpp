// Digital play from end to end: the player component with the digital engine over the drive
// system, an emulated drive behind it and a generated disc in it, writing tracks to WAV files.
// The disc's counter audio names its own position, so every written sample shows where it
// was read from.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/PulseServer.h"
#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "digital/ThreeTrackDisc.h"
#include "digital/WavSamples.h"
#include "drive/DriveSystem.h"
#include "drive/KsCdCommands.h"
#include "drive/TrackInfo.h"
#include "engine/DigitalEngine.h"
#include "engine/KsCdPlayer.h"
#include "engine/ScsiDriveServices.h"
#include "output/WaveOut.h"
#include "vdrive/codec/CdgPack.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/EmulatedScsiDevice.h"

namespace vantrel {
namespace {

// The disc, and reading back what its play wrote.
using namespace vantrel::testing;

constexpr auto kWait = std::chrono::seconds(60);

// A drive, the drive system over it and the player component with the digital engine.
struct TRig {
    explicit TRig(const vdrive::DriveOptions& options) : drive(options) {}
    ~TRig()
    {
        if (engine) // the reading thread must be gone before the component's window is
            engine->WaitIdle(60000);
    }

    vdrive::VirtualDrive drive;
    vdrive::EmulatedScsiDevice device{drive};
    std::unique_ptr<TDriveSystem> system;
    TDigitalEngine* engine = nullptr;
    TTrackInfo track;
    bool ended = false, failed = false;
    std::vector<std::uint8_t> packs;
    std::unique_ptr<TKsCdPlayer> player;
};

class DigitalPlayTest : public ::testing::Test {
protected:
    // Writes the disc into its own folder; patch may change the image files before they are read.
    std::shared_ptr<vdrive::Disc> MakeDisc(const std::string& text, const std::string& folder = "disc",
                                           const std::function<void(const std::string& image)>& patch = {})
    {
        return testing::MakeTestDisc(dir.File(folder), text, patch);
    }

    // The component set up for digital play of track `number` into a WAV file.
    std::unique_ptr<TRig> MakeRig(const std::shared_ptr<vdrive::Disc>& disc, const std::string& options,
                                  int number = 2)
    {
        vdrive::DriveOptions parsed;
        std::string error;
        EXPECT_TRUE(vdrive::ParseDriveOptions(options, parsed, error)) << error;
        auto rig = std::make_unique<TRig>(parsed);
        rig->drive.Insert(disc);
        // An empty sysfs tree: no real drives take part.
        rig->system = std::make_unique<TDriveSystem>(
            std::vector<TDriveSystem::Emulated>{{&rig->device, "V:"}}, dir.Path().string());
        TKsCdPlayer::Engines engines;
        engines.drives = std::make_unique<TScsiDriveList>(*rig->system);
        engines.commands = std::make_unique<TScsiDriveCommands>(*rig->system);
        auto engine = std::make_unique<TDigitalEngine>(*rig->system);
        rig->engine = engine.get();
        engines.digital = std::move(engine);
        rig->player = std::make_unique<TKsCdPlayer>(std::move(engines));

        TKsCdPlayer& player = *rig->player;
        EXPECT_EQ(player.GetCdDrives(), 1);
        player.SetPlayMode(0, pmDigital);
        EXPECT_EQ(player.GetPlayMode(0), pmDigital);
        player.SetGain(0, 100); // as the application does from its settings
        player.DiskWriterEnable = true;
        player.DiskWriterRootDir = dir.File("rips");
        TRig* r = rig.get();
        player.OnPlayEnd = [r](TKsCdPlayer&) { r->ended = true; };
        player.OnPlayError = [r](TKsCdPlayer&) { r->failed = true; };
        player.OnCdgRead = [r](TKsCdPlayer&, TCdgBuffer& buffer) {
            std::unique_ptr<std::uint8_t[]> packs;
            const std::size_t count = buffer.TakeAll(packs);
            r->packs.insert(r->packs.end(), packs.get(), packs.get() + count * kCdgPackBytes);
        };

        const vdrive::Track& track = disc->tracks.at(static_cast<std::size_t>(number - 1));
        rig->track.AlbumTitle = "Album";
        rig->track.Title = "Track";
        rig->track.DriveLetter = "V:";
        rig->track.TrackNumber = number;
        rig->track.StartAddress = FramesToCdAddress(track.start + kLeadInFrames);
        rig->track.EndAddress = FramesToCdAddress(track.end + kLeadInFrames);
        return rig;
    }

    std::string WavPath() const { return dir.File("rips") + "/Album/Track.wav"; }

    // Starts the track, replacing an earlier file of the same name.
    static void Start(TRig& rig, const std::string& wav)
    {
        std::error_code ignored;
        std::filesystem::remove(wav, ignored);
        rig.player->SetCurrentTrack(&rig.track);
        ASSERT_TRUE(rig.player->Play());
    }
    // Pumps the component's window until done() holds; false on time-out.
    static bool PumpUntil(TRig& rig, const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            rig.player->Window().PumpFor(std::chrono::milliseconds(10));
        }
        return true;
    }
    static bool PumpToOutcome(TRig& rig)
    {
        return PumpUntil(rig, [&] { return rig.ended || rig.failed; });
    }
    // Plays the track to its end and reads what was written.
    TWavFile Rip(TRig& rig)
    {
        Start(rig, WavPath());
        EXPECT_TRUE(PumpToOutcome(rig));
        EXPECT_TRUE(rig.ended);
        EXPECT_FALSE(rig.failed);
        return ReadWav(WavPath());
    }

    testing::TempDir dir;
};

TEST_F(DigitalPlayTest, EveryReadMethodRipsTheTrackSampleForSample)
{
    struct Case {
        RipMethods method;
        const char* options;
        std::int64_t tolerance; // the first read is taken as the drive delivers it
    };
    const Case cases[] = {
        {RipMMC, "", 0},
        {RipMMC, "jitter=300,seed=1", 300},
        {RipMMCMSF, "jitter=300,seed=2", 300},
        {RipSony, "jitter=300,seed=3", 300},
        {RipSonyMSF, "jitter=300,seed=4", 300},
        {RipToshiba, "jitter=300,seed=5", 300},
    };
    const auto disc = MakeDisc(kThreeTracks);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.method) + " " + c.options);
        auto rig = MakeRig(disc, c.options);
        rig->player->SetRipMethod(0, c.method);
        const TWavFile wav = Rip(*rig);

        ASSERT_TRUE(wav.pcmHeader);
        EXPECT_EQ(wav.dataSize, kTrackSamples * 4);
        EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
        ASSERT_EQ(wav.samples.size(), kTrackSamples);
        const std::int64_t first = Position(wav.samples.front());
        EXPECT_LE(std::abs(first - kFirstSample), c.tolerance);
        EXPECT_EQ(RunEnd(wav.samples, 0, first, 1), kTrackSamples) << "no sample lost, repeated or changed";
    }
}

TEST_F(DigitalPlayTest, TheReadOffsetMovesWhatIsRead)
{
    const auto disc = MakeDisc(kThreeTracks);
    for (const std::int32_t offset : {100, -100, 2 * 588 + 7}) {
        SCOPED_TRACE(offset);
        auto rig = MakeRig(disc, "");
        rig->player->SetOffsetSamples(0, offset);
        const TWavFile wav = Rip(*rig);
        ASSERT_EQ(wav.samples.size(), kTrackSamples);
        EXPECT_EQ(RunEnd(wav.samples, 0, kFirstSample + offset, 1), kTrackSamples);
    }
}

TEST_F(DigitalPlayTest, HeadSyncTakesTheStartFromTheSubChannelInsteadOfTheOffset)
{
    // On the shifted disc every sector carries the Q of the sector after it, as if the drive
    // had read one sector late: head sync moves the whole track one frame earlier.
    const auto shifted = MakeDisc(kThreeTracks, "shifted", [](const std::string& image) {
        const std::string sub = image.substr(0, image.size() - 4) + ".sub";
        std::ifstream in(sub, std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        in.close();
        bytes = bytes.substr(96) + std::string(96, '\0');
        std::ofstream(sub, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    });
    const auto plain = MakeDisc(kThreeTracks, "plain");
    struct Case {
        const char* name;
        bool shiftedDisc;
        RipMethods method;
        SubCodeModes mode;
        const char* options;
        std::int64_t shift; // samples
    };
    constexpr std::int32_t kOffset = 100;
    const Case cases[] = {
        {"formatted Q, BCD", true, RipMMC, SubCodeQ, "", -kSamples},
        {"formatted Q, binary from a Plextor drive", true, RipMMC, SubCodeQ, "vendor=PLEXTOR,plextor=1", -kSamples},
        {"formatted Q through READ CDDA", true, RipSony, SubCodeQ, "", -kSamples},
        {"raw sub-channel through READ CD MSF", true, RipMMCMSF, SubCodeRAW, "", -kSamples},
        {"a drive that reads where asked", false, RipMMC, SubCodeQ, "", 0},
        {"no sub-channel: no head sync, the offset counts", true, RipMMC, SubCodeNo, "", kOffset},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto rig = MakeRig(c.shiftedDisc ? shifted : plain, c.options);
        TKsCdPlayer& player = *rig->player;
        player.SetRipMethod(0, c.method);
        player.SetSubCodeMode(0, c.mode);
        player.SetSyncHeadPos(0, true);
        player.SetOffsetSamples(0, kOffset);
        const TWavFile wav = Rip(*rig);
        ASSERT_EQ(wav.samples.size(), kTrackSamples);
        EXPECT_EQ(RunEnd(wav.samples, 0, kFirstSample + c.shift, 1), kTrackSamples);
    }
}

TEST_F(DigitalPlayTest, ReversePlayWritesTheTrackBackwards)
{
    const auto disc = MakeDisc(kThreeTracks);
    for (const char* options : {"", "jitter=300,seed=9"}) {
        SCOPED_TRACE(options);
        auto rig = MakeRig(disc, options);
        rig->player->SetReverse(true);
        ASSERT_TRUE(rig->player->GetReverse());
        const TWavFile wav = Rip(*rig);
        ASSERT_EQ(wav.samples.size(), kTrackSamples);
        const std::int64_t top = Position(wav.samples.front());
        EXPECT_LE(std::abs(top - (kEndSample - 1)), *options ? 300 : 0);
        EXPECT_EQ(RunEnd(wav.samples, 0, top, -1), kTrackSamples);
    }
}

// What was written by a play that did not reach the end: a header whose sizes describe the
// file, and audio that runs on from the track's start.
void ExpectCompletePrefix(const TWavFile& wav)
{
    ASSERT_TRUE(wav.pcmHeader);
    EXPECT_EQ(wav.riffSize, wav.fileSize - 8);
    EXPECT_EQ(wav.dataSize, wav.fileSize - 44);
    EXPECT_LT(wav.samples.size(), kTrackSamples);
    EXPECT_EQ(RunEnd(wav.samples, 0, kFirstSample, 1), wav.samples.size());
}

TEST_F(DigitalPlayTest, StopWhileReadingEndsCleanly)
{
    auto rig = MakeRig(MakeDisc(kThreeTracks), "delay=20");
    Start(*rig, WavPath());
    ASSERT_TRUE(PumpUntil(*rig, [&] { return !rig->player->IsBusy(); }));
    ASSERT_TRUE(rig->player->IsPlaying());
    ASSERT_TRUE(rig->player->Stop());
    EXPECT_FALSE(rig->player->IsPlaying());
    EXPECT_TRUE(rig->engine->WaitIdle(0)) << "the reading thread is gone when Stop returns";
    rig->player->Window().PumpFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(rig->ended) << "a stop is no end of play";
    EXPECT_FALSE(rig->failed);
    ExpectCompletePrefix(ReadWav(WavPath()));
}

TEST_F(DigitalPlayTest, SeekLandsOnTheAskedFrame)
{
    auto rig = MakeRig(MakeDisc(kThreeTracks), "delay=20");
    Start(*rig, WavPath());
    ASSERT_TRUE(PumpUntil(*rig, [&] { return !rig->player->IsBusy(); }));
    ASSERT_TRUE(rig->player->Seek(600)); // hundredths of a second: frame 450
    EXPECT_EQ(rig->player->GetSavedTime(), 6000);
    ASSERT_TRUE(PumpToOutcome(*rig));
    EXPECT_TRUE(rig->ended);

    // Whatever was written before the seek runs on from the start; then frame 450 to the end.
    const TWavFile wav = ReadWav(WavPath());
    const std::int64_t target = kFirstSample + 450 * kSamples;
    const std::size_t before = RunEnd(wav.samples, 0, kFirstSample, 1);
    ASSERT_LT(before, wav.samples.size());
    EXPECT_EQ(Position(wav.samples[before]), target);
    EXPECT_EQ(RunEnd(wav.samples, before, target, 1), wav.samples.size());
    EXPECT_EQ(Position(wav.samples.back()), kEndSample - 1);
}

TEST_F(DigitalPlayTest, AReadErrorEndsWithPlayErrorAndAFileThatSaysWhatItHolds)
{
    constexpr std::int64_t kBadSector = kStart + 400;
    auto rig = MakeRig(MakeDisc(kThreeTracks), "errors=" + std::to_string(kBadSector));
    Start(*rig, WavPath());
    ASSERT_TRUE(PumpToOutcome(*rig));
    EXPECT_TRUE(rig->failed);
    EXPECT_FALSE(rig->ended);
    EXPECT_FALSE(rig->player->IsPlaying());

    const TWavFile wav = ReadWav(WavPath()); // complete as soon as the error is reported
    ExpectCompletePrefix(wav);
    ASSERT_FALSE(wav.samples.empty()) << "the blocks before the error were written";
    EXPECT_LT(Position(wav.samples.back()), (kBadSector + 150) * kSamples);
}

TEST_F(DigitalPlayTest, CdgPacksOfTheTrackReachOnCdgRead)
{
    // Without re-synchronisation each block's packs continue from the sector where the last
    // block's packs ended, also when read jitter moves the audio by part of a sector.
    struct Case {
        const char* name;
        SubCodeModes mode;
        bool sync;
        const char* options;
        int track = 2; // 3: the last, whose final blocks cannot read past its end
    };
    const Case cases[] = {
        {"R-W as the drive de-interleaved them", SubCodeRW, false, ""},
        {"R-W re-synchronised under read jitter", SubCodeRW, true, "jitter=300,seed=11"},
        {"R-W under read jitter, not re-synchronised", SubCodeRW, false, "jitter=500,seed=12"},
        {"raw P-W, masked to R-W and de-interleaved from the track start", SubCodeRAW, false, ""},
        {"raw P-W re-synchronised under read jitter", SubCodeRAW, true, "jitter=300,seed=11"},
        {"the disc's last track under read jitter", SubCodeRW, true, "jitter=580,seed=1", 3},
    };
    const auto disc = MakeDisc(kThreeTracks);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto rig = MakeRig(disc, c.options, c.track);
        TKsCdPlayer& player = *rig->player;
        player.CdgEnabled = true;
        player.SetSubCodeMode(0, c.mode);
        player.SetCdgSyncEnabled(0, c.sync);
        const TWavFile wav = Rip(*rig);
        EXPECT_EQ(wav.samples.size(), kTrackSamples);

        // What the drive holds for the track's sectors, read in one go per 25 sectors.
        std::vector<std::uint8_t> expected;
        const TKsCdRom* rom = rig->system->Roms().GetDrive(0);
        ASSERT_NE(rom, nullptr);
        TKsParagraphBoundaryBuffer buffer(25 * kAudioSubSector);
        const std::int64_t first = AddressToFrames(rig->track.StartAddress) - kLeadInFrames;
        const std::int64_t end = AddressToFrames(rig->track.EndAddress) - kLeadInFrames;
        for (std::int64_t sector = first; sector < end; sector += 25) {
            ASSERT_TRUE(ReadSectors(rig->system->AspiTransport(), *rom, RipMMC, c.mode, sector + 150, 25, buffer));
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.Data());
            for (int s = 0; s < 25; ++s)
                for (std::uint32_t k = 0; k < kSubChannelBytes; ++k)
                    expected.push_back(bytes[s * kAudioSubSector + kAudioSector + k] & 0x3F);
        }
        if (c.mode == SubCodeRAW) {
            // The disc generator's own de-interleaver, starting empty as the play's does.
            vdrive::CdgDeinterleaver deinterleaver;
            deinterleaver.Deinterleave(expected.data(), expected.size() / kCdgPackBytes);
        }
        EXPECT_TRUE(rig->packs == expected) << rig->packs.size() / kCdgPackBytes << " packs arrived, "
                                            << expected.size() / kCdgPackBytes << " expected";
        // The disc really carries graphics there, not only empty packs.
        if (c.track == 2) {
            EXPECT_NE(std::count_if(expected.begin(), expected.end(), [](std::uint8_t b) { return b != 0; }), 0);
        }
    }
}

TEST_F(DigitalPlayTest, ASpeedChangeReachesTheComponentAndTheElapsedTimeFollowsIt)
{
    // Played in real time through a private sound server, so that the time shown comes from
    // the component's timer and not from the positions a WAV file's writer reports.
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sound server's client library has threads the race detector cannot see into";
#endif
    testing::PulseServer server;
    if (!server.Ready())
        GTEST_SKIP() << "no PulseAudio daemon could be started here";
    TWaveOut devices;
    int pulse = -1;
    for (int i = 0; i < devices.GetNumDevs(); ++i) {
        devices.SetDevice(i);
        if (devices.DevicePcm() == "pulse")
            pulse = i;
    }
    ASSERT_GE(pulse, 0) << "ALSA lists its pulse device";

    auto rig = MakeRig(MakeDisc("disc\ntrack length=01:00:00\n"), "", 1);
    TKsCdPlayer& player = *rig->player;
    player.DiskWriterEnable = false;
    player.SetOutputMode(0);
    player.SetWaveDevIndex(static_cast<std::uint32_t>(pulse));
    // The timer itself stays out of the way: each tick below is one call of its procedure.
    constexpr std::uint32_t kTick = 40000;
    player.SetInterval(kTick);
    Start(*rig, "");
    // How far one tick moves the time; 0 while the engine still starts up.
    const auto tick = [&player] {
        const std::int32_t before = player.GetTime();
        player.TimerProc();
        return player.GetTime() - before;
    };
    ASSERT_TRUE(PumpUntil(*rig, [&] { return tick() != 0 || rig->ended || rig->failed; }));
    EXPECT_EQ(tick(), static_cast<std::int32_t>(kTick));

    struct Case {
        const char* name;
        int code;
        double ratio;
    };
    const Case cases[] = {{"continuous 1.37", 4095, 1.37}, {"twice as fast", 2, 2.0}, {"half speed", -2, 0.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.code == 4095) {
            ASSERT_TRUE(player.SetSpeedEx(c.ratio));
        }
        player.SetSpeed(c.code);
        EXPECT_EQ(player.GetSpeed(), c.code);
        const auto expected = static_cast<std::int32_t>(kTick * static_cast<float>(c.ratio));
        std::int32_t moved = 0;
        ASSERT_TRUE(PumpUntil(*rig, [&] {
            moved = tick();
            return std::abs(moved - expected) <= 1 || rig->ended || rig->failed;
        })) << "the time last moved by " << moved;
        EXPECT_NEAR(moved, expected, 1);
    }
    EXPECT_FALSE(rig->failed);
    player.Stop();
}

} // namespace
} // namespace vantrel
