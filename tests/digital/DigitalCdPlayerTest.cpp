// The digital player over the emulated drive: which sectors it reads and with which commands,
// what it writes into the WAV file, what it tells its owner and how it serves requests.
// Discs hold counter audio, so every written sample names the disc position it came from.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "digital/DigitalCdPlayer.h"
#include "digital/ThreeTrackDisc.h"
#include "digital/WavSamples.h"
#include "drive/KsCdCommands.h"
#include "drive/VirtualTransport.h"
#include "vdrive/DiscMaker.h"

namespace vantrel {
namespace {

// The disc, and reading back what its play wrote.
using namespace vantrel::testing;

constexpr auto kWait = std::chrono::seconds(60);

// The notifications as the owner receives them, on the reading thread.
class TRecorder {
public:
    struct Note {
        int code;
        std::int64_t value; // the parameter; for 16 the ratio x 1000
    };

    static void Notify(int code, std::intptr_t param, void* context)
    {
        auto& self = *static_cast<TRecorder*>(context);
        std::scoped_lock lock(self.mutex_);
        std::int64_t value = param;
        if (code == dnSpeedRatio)
            value = static_cast<std::int64_t>(*reinterpret_cast<const float*>(param) * 1000.0f + 0.5f);
        if (code == dnCdgCount)
            self.pendingPacks_ = param;
        if (code == dnCdgPacks) {
            const auto* packs = reinterpret_cast<const std::uint8_t*>(param);
            self.packs_.insert(self.packs_.end(), packs, packs + self.pendingPacks_ * 24);
            value = 0; // an address says nothing
        }
        self.notes_.push_back({code, value});
        self.changed_.notify_all();
    }

    void Clear()
    {
        std::scoped_lock lock(mutex_);
        notes_.clear();
        packs_.clear();
    }
    std::vector<Note> Notes() const
    {
        std::scoped_lock lock(mutex_);
        return notes_;
    }
    // Waits until some notification satisfies pred.
    bool WaitFor(const std::function<bool(const Note&)>& pred)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] {
            for (const Note& note : notes_)
                if (pred(note))
                    return true;
            return false;
        });
    }
    bool WaitForEnd()
    {
        return WaitFor([](const Note& n) { return n.code == dnEnd || n.code == dnError; });
    }
    bool Saw(int code, std::int64_t value) const
    {
        std::scoped_lock lock(mutex_);
        for (const Note& note : notes_)
            if (note.code == code && note.value == value)
                return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Note> notes_;
    std::intptr_t pendingPacks_ = 0;
    std::vector<std::uint8_t> packs_;
};

std::vector<int> Codes(const std::vector<TRecorder::Note>& notes)
{
    std::vector<int> codes;
    for (const auto& note : notes)
        codes.push_back(note.code);
    return codes;
}

class DigitalPlayerTest : public ::testing::Test {
protected:
    void Load(const std::string& discText = kThreeTracks, const std::string& options = "")
    {
        const auto disc = testing::MakeTestDisc(dir, discText);
        ASSERT_FALSE(HasFailure());
        vdrive::DriveOptions parsed;
        std::string error;
        ASSERT_TRUE(vdrive::ParseDriveOptions(options, parsed, error)) << error;
        drive = std::make_unique<vdrive::VirtualDrive>(parsed);
        drive->Insert(disc);
        transport = std::make_unique<test::VirtualTransport>(*drive);
        ASSERT_TRUE(Inquiry(*transport, rom));
        transport->sent.clear();
    }

    // A WAV file of 16-bit samples, the defaults of the settings dialog otherwise; a fresh
    // record of notifications.
    void Configure(std::int64_t startSector = kStart, std::int64_t endSector = kEnd)
    {
        recorder.Clear();
        ASSERT_TRUE(player.SetNotify(&TRecorder::Notify, &recorder));
        ASSERT_TRUE(player.SetReadAtOnce(25));
        ASSERT_TRUE(player.SetOutputKind(TDigitalCdPlayer::kWavFile));
        ASSERT_TRUE(player.SetFileName(wavPath));
        ASSERT_TRUE(player.SetInternalFormat(wdInt16));
        ASSERT_TRUE(player.SetOutputFormat(wdInt16, false));
        ASSERT_TRUE(player.SetOverlaps(5, 2));
        ASSERT_TRUE(player.SetDrive(rom, transport.get(), Transport::Spti, startSector + 150, endSector + 150));
    }

    // Starts, waits for the end (or error) notification and for the thread.
    bool Play()
    {
        return player.Start() && recorder.WaitForEnd() && player.WaitIdle(60000);
    }

    // The command blocks sent with opcode, in order.
    std::vector<std::vector<std::uint8_t>> Sent(std::uint8_t opcode) const
    {
        std::vector<std::vector<std::uint8_t>> blocks;
        for (const auto& sent : transport->sent)
            if (sent.cdb[0] == opcode)
                blocks.push_back(sent.cdb);
        return blocks;
    }
    static std::int64_t Be32(const std::vector<std::uint8_t>& cdb, std::size_t at)
    {
        return std::int64_t{cdb[at]} << 24 | cdb[at + 1] << 16 | cdb[at + 2] << 8 | cdb[at + 3];
    }

    testing::TempDir dir;
    std::string wavPath = dir.File("out.wav");
    std::unique_ptr<vdrive::VirtualDrive> drive;
    std::unique_ptr<test::VirtualTransport> transport;
    TKsCdRom rom; // as INQUIRY describes it
    TRecorder recorder;
    TDigitalCdPlayer player; // last: its thread uses everything above
};

TEST_F(DigitalPlayerTest, RipsTheRangeAndTellsTheOwnerHowFarItGot)
{
    Load();
    Configure();
    ASSERT_TRUE(Play());

    const auto notes = recorder.Notes();
    const std::vector<int> codes = Codes(notes);
    ASSERT_GE(codes.size(), 8u);
    EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + 5),
              (std::vector<int>{dnSpeedRatio, dnDirection, dnPosition, dnCdgClear, dnRunning}));
    EXPECT_EQ(notes[0].value, 1000) << "normal speed";
    EXPECT_EQ(notes[2].value, 0);
    EXPECT_EQ(std::vector<int>(codes.end() - 2, codes.end()), (std::vector<int>{dnEnd, dnPosition}));
    EXPECT_EQ(notes.back().value, 0);
    // In between, one position per block, in frames from the start, up to the whole track.
    std::int64_t last = 0;
    for (std::size_t k = 5; k + 2 < notes.size(); ++k) {
        ASSERT_EQ(notes[k].code, dnPosition) << k;
        EXPECT_GT(notes[k].value, last);
        last = notes[k].value;
    }
    EXPECT_EQ(last, kEnd - kStart);

    const TWavFile wav = ReadWav(wavPath);
    ASSERT_TRUE(wav.pcmHeader);
    EXPECT_EQ(wav.dataSize, kTrackSamples * 4);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    ASSERT_EQ(wav.samples.size(), kTrackSamples);
    EXPECT_EQ(RunEnd(wav.samples, 0, kFirstSample, 1), kTrackSamples);
    EXPECT_EQ(player.GetState(), TDigitalCdPlayer::dsIdle);
}

TEST_F(DigitalPlayerTest, ReadsFollowTheSettingsAsCorrectedAtTheStart)
{
    struct Case {
        const char* name;
        std::uint8_t readAtOnce; // set after the overlaps
        std::uint8_t overlaps, compares;
        std::int64_t frames, overlap; // what the reads come to
    };
    const Case cases[] = {
        {"defaults", 25, 5, 2, 25, 5},
        {"no overlap", 25, 0, 0, 25, 0},
        {"read at once 0 reads 5, overlaps cut to 4", 0, 5, 2, 5, 4},
        {"overlaps cut below read at once", 3, 5, 2, 3, 2},
    };
    Load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure();
        ASSERT_TRUE(player.SetReadAtOnce(25));
        ASSERT_TRUE(player.SetOverlaps(c.overlaps, c.compares));
        ASSERT_TRUE(player.SetReadAtOnce(c.readAtOnce));
        transport->sent.clear();
        ASSERT_TRUE(Play());

        // The spin-up read, then blocks that each go back by the overlap; the last one also
        // reads the overlap beyond the end, to follow the drive's offset there.
        std::vector<std::pair<std::int64_t, std::int64_t>> expected{{kStart, 1}};
        std::int64_t from = kStart, reached = kStart;
        do {
            const std::int64_t count = std::min(c.frames, kEnd - from);
            reached = from + count;
            expected.emplace_back(from, reached == kEnd ? count + c.overlap : count);
            from = reached - c.overlap;
        } while (reached < kEnd);
        std::vector<std::pair<std::int64_t, std::int64_t>> reads;
        for (const auto& cdb : Sent(0xBE))
            reads.emplace_back(Be32(cdb, 2), cdb[6] << 16 | cdb[7] << 8 | cdb[8]);
        EXPECT_EQ(reads, expected);
        const TWavFile wav = ReadWav(wavPath);
        EXPECT_EQ(wav.samples.size(), kTrackSamples);
        EXPECT_EQ(RunEnd(wav.samples, 0, kFirstSample, 1), kTrackSamples);
    }
}

TEST_F(DigitalPlayerTest, ReversePlayDeliversTheRangeBackwardsFromItsEnd)
{
    struct Case {
        const char* options;
        std::int32_t offset; // moves the range by part of a frame
        std::int64_t tolerance;
    };
    for (const Case& c : {Case{"", 0, 0}, Case{"", 100, 0}, Case{"jitter=300,seed=3", 0, 300}}) {
        SCOPED_TRACE(std::string(c.options) + " offset " + std::to_string(c.offset));
        Load(kThreeTracks, c.options);
        Configure();
        ASSERT_TRUE(player.SetOffset(c.offset));
        ASSERT_TRUE(player.SetReverse(true));
        ASSERT_TRUE(Play());

        const auto notes = recorder.Notes();
        ASSERT_GE(notes.size(), 3u);
        EXPECT_EQ(notes[1].code, dnDirection);
        EXPECT_EQ(notes[1].value, 1);
        EXPECT_EQ(notes[2].code, dnPosition);
        EXPECT_EQ(notes[2].value, kEnd - kStart) << "reverse play starts at the end";
        EXPECT_TRUE(recorder.Saw(dnEnd, 0));

        const TWavFile wav = ReadWav(wavPath);
        ASSERT_EQ(wav.samples.size(), kTrackSamples);
        const std::int64_t top = Position(wav.samples.front());
        EXPECT_LE(std::abs(top - (kEndSample - 1 + c.offset)), c.tolerance);
        EXPECT_EQ(RunEnd(wav.samples, 0, top, -1), kTrackSamples);
        ASSERT_TRUE(player.SetReverse(false));
        ASSERT_TRUE(player.SetOffset(0));
    }
}

TEST_F(DigitalPlayerTest, FramesOutsideTheLimitsPlayAsSilence)
{
    struct Case {
        const char* name;
        bool reverse;
        std::int64_t lowest, highest; // absolute frames
        std::size_t silentHead, silentTail; // frames, in the order written
    };
    const Case cases[] = {
        {"track starts below the lowest frame", false, kStart + 150 + 10, 2147483647, 10, 0},
        {"track ends above the highest frame", false, 0, kEnd + 150 - 10, 0, 10},
        {"backwards down to the lowest frame", true, kStart + 150 + 10, 2147483647, 0, 10},
    };
    Load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure();
        ASSERT_TRUE(player.SetMinFrame(c.lowest));
        ASSERT_TRUE(player.SetMaxFrame(c.highest));
        ASSERT_TRUE(player.SetReverse(c.reverse));
        ASSERT_TRUE(Play());

        const TWavFile wav = ReadWav(wavPath);
        ASSERT_EQ(wav.samples.size(), kTrackSamples);
        const std::size_t head = c.silentHead * kSamples, tail = kTrackSamples - c.silentTail * kSamples;
        for (std::size_t k = 0; k < head; ++k)
            ASSERT_EQ(wav.samples[k], 0u) << k;
        for (std::size_t k = tail; k < kTrackSamples; ++k)
            ASSERT_EQ(wav.samples[k], 0u) << k;
        const std::int64_t first = c.reverse ? kEndSample - 1 : kFirstSample + static_cast<std::int64_t>(head);
        EXPECT_EQ(RunEnd(wav.samples, head, first, c.reverse ? -1 : 1), tail);
    }
}

TEST_F(DigitalPlayerTest, AtTheEdgesOfTheDiscTheLastBlockEndsWithTheRange)
{
    // Forward through the last track and backwards through the first: the frames beyond the
    // range that the last block would take lie in the lead-out or before sector 0.
    struct Case {
        bool reverse;
        std::int64_t start, end; // sectors
    };
    Load();
    for (const Case& c : {Case{false, 1500, 2250}, Case{true, 0, 750}}) {
        SCOPED_TRACE(c.reverse ? "first track backwards" : "last track");
        Configure(c.start, c.end);
        ASSERT_TRUE(player.SetReverse(c.reverse));
        ASSERT_TRUE(Play());
        EXPECT_TRUE(recorder.Saw(dnEnd, 0));
        const TWavFile wav = ReadWav(wavPath);
        ASSERT_EQ(wav.samples.size(), 750u * kSamples);
        const std::int64_t first = c.reverse ? (c.end + 150) * kSamples - 1 : (c.start + 150) * kSamples;
        EXPECT_EQ(RunEnd(wav.samples, 0, first, c.reverse ? -1 : 1), wav.samples.size());
    }
}

TEST_F(DigitalPlayerTest, MuteGapSilencesIndexZeroWhereTheSubChannelTellsIt)
{
    // Track 1 starts two seconds in; before it lies a hidden track in its index 0.
    struct Case {
        SubCodeModes mode;
        bool muteGap, muted;
    };
    const Case cases[] = {
        {SubCodeQ, true, true}, {SubCodeRAW, true, true}, {SubCodeQ, false, false},
        {SubCodeNo, true, false}, // nothing to tell index 0 by: mute gap is off
    };
    Load("disc sub=raw hidden=00:02:00\ntrack length=00:05:00\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + (c.muteGap ? " mute" : " no mute"));
        Configure(0, 300);
        ASSERT_TRUE(player.SetSubCodeMode(c.mode));
        ASSERT_TRUE(player.SetMuteGap(c.muteGap));
        ASSERT_TRUE(Play());

        const TWavFile wav = ReadWav(wavPath);
        ASSERT_EQ(wav.samples.size(), 300u * kSamples);
        const std::size_t gap = 150 * kSamples;
        if (c.muted) {
            for (std::size_t k = 0; k < gap; ++k)
                ASSERT_EQ(wav.samples[k], 0u) << k;
            EXPECT_EQ(RunEnd(wav.samples, gap, 300 * kSamples, 1), wav.samples.size());
        } else {
            EXPECT_EQ(RunEnd(wav.samples, 0, 150 * kSamples, 1), wav.samples.size());
        }
    }
}

TEST_F(DigitalPlayerTest, ToshibaDensityReadSpeedAndTrayAreSetForThePlayAndPutBack)
{
    Load();
    Configure();
    ASSERT_TRUE(player.SetRipMethod(RipToshiba));
    ASSERT_TRUE(player.SetReadSpeedEnabled(true));
    ASSERT_TRUE(player.SetReadSpeed(1411));
    const std::uint32_t before = GetCurrentReadSpeed(*transport, rom, 0);
    ASSERT_NE(before, 1411u);
    transport->sent.clear();
    ASSERT_TRUE(Play());
    EXPECT_TRUE(recorder.Saw(dnEnd, 0));
    EXPECT_EQ(RunEnd(ReadWav(wavPath).samples, 0, kFirstSample, 1), kTrackSamples);

    // Where each command stands among all that were sent.
    std::vector<std::uint8_t> opcodes;
    for (const auto& sent : transport->sent)
        opcodes.push_back(sent.cdb[0]);
    const auto firstOf = [&](std::uint8_t op) { return std::find(opcodes.begin(), opcodes.end(), op) - opcodes.begin(); };
    const auto lastOf = [&](std::uint8_t op) {
        return opcodes.rend() - std::find(opcodes.rbegin(), opcodes.rend(), op) - 1;
    };
    const std::uint8_t modeSelect = 0x15; // the drive's ANSI version 2 takes the 6-byte forms
    EXPECT_LT(firstOf(modeSelect), firstOf(0x28)) << "density before the first READ(10)";
    EXPECT_GT(lastOf(modeSelect), lastOf(0x28)) << "density back after the last";
    EXPECT_EQ(Sent(modeSelect).size(), 2u);

    const auto speeds = Sent(0xBB);
    ASSERT_EQ(speeds.size(), 2u);
    EXPECT_EQ(speeds[0][2] << 8 | speeds[0][3], 1411);
    EXPECT_EQ(static_cast<std::uint32_t>(speeds[1][2] << 8 | speeds[1][3]), before) << "the remembered speed";
    EXPECT_LT(firstOf(0xBB), firstOf(0x28));
    EXPECT_GT(lastOf(0xBB), lastOf(0x28));

    const auto locks = Sent(0x1E);
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(locks[0][4] & 1, 1);
    EXPECT_EQ(locks[1][4] & 1, 0);
    EXPECT_EQ(GetCurrentReadSpeed(*transport, rom, 0), before);
}

TEST_F(DigitalPlayerTest, WithoutModeCommandsTheToshibaReadFailsAndNothingIsRestored)
{
    Load();
    Configure();
    ASSERT_TRUE(player.SetRipMethod(RipToshiba));
    ASSERT_TRUE(player.SetModeCmdType(-1));
    ASSERT_TRUE(player.SetReadSpeedEnabled(true));
    ASSERT_TRUE(player.SetReadSpeed(1411));
    ASSERT_TRUE(Play());
    EXPECT_TRUE(recorder.Saw(dnError, 0)) << "audio does not read as data";
    EXPECT_FALSE(recorder.Saw(dnEnd, 0));
    EXPECT_TRUE(Sent(0x15).empty());
    EXPECT_TRUE(Sent(0x55).empty());
    EXPECT_TRUE(Sent(0x1A).empty()) << "no capabilities page read";
    EXPECT_EQ(Sent(0xBB).size(), 1u) << "set, with no speed to go back to";
}

TEST_F(DigitalPlayerTest, SpinUpReadsTheFirstFrameUntilItsTimeIsUp)
{
    Load();
    Configure();
    ASSERT_TRUE(player.SetSpinUpTime(1));
    ASSERT_TRUE(Play());
    const auto reads = Sent(0xBE);
    std::size_t spinUps = 0;
    while (spinUps < reads.size() && Be32(reads[spinUps], 2) == kStart && reads[spinUps][8] == 1)
        ++spinUps;
    EXPECT_GT(spinUps, 1u);
    EXPECT_EQ(RunEnd(ReadWav(wavPath).samples, 0, kFirstSample, 1), kTrackSamples);
}

TEST_F(DigitalPlayerTest, PauseSeekAndResumeContinueFromTheNewPosition)
{
    Load(kThreeTracks, "delay=20");
    Configure();
    ASSERT_TRUE(player.Start());
    ASSERT_TRUE(recorder.WaitFor([](const TRecorder::Note& n) { return n.code == dnRunning; }));
    ASSERT_TRUE(player.Pause());
    EXPECT_EQ(player.GetState(), TDigitalCdPlayer::dsPaused);
    // The configuration is fixed while a play exists; the stages' settings are not.
    EXPECT_FALSE(player.SetOffset(5));
    EXPECT_FALSE(player.SetFileName(dir.File("other.wav")));
    EXPECT_TRUE(player.SetVolumes(1.0f, 1.0f));

    constexpr std::int64_t kTarget = 600;
    ASSERT_TRUE(player.Seek(kTarget));
    EXPECT_EQ(player.GetState(), TDigitalCdPlayer::dsPaused) << "a seek does not resume";
    ASSERT_TRUE(player.Resume());
    ASSERT_TRUE(recorder.WaitForEnd());
    ASSERT_TRUE(player.WaitIdle(60000));
    EXPECT_TRUE(recorder.Saw(dnEnd, 0));
    // The owner hears of the seek: the CD+G screen is cleared, then the new position.
    const auto notes = recorder.Notes();
    const auto seekNote = std::find_if(notes.begin() + 1, notes.end(), [](const TRecorder::Note& n) {
        return n.code == dnPosition && n.value == kTarget;
    });
    ASSERT_NE(seekNote, notes.end());
    EXPECT_EQ((seekNote - 1)->code, dnCdgClear);

    // Whatever was written before the seek runs on from the start; then the target to the end.
    const TWavFile wav = ReadWav(wavPath);
    const std::size_t before = RunEnd(wav.samples, 0, kFirstSample, 1);
    const std::int64_t target = kFirstSample + kTarget * kSamples;
    ASSERT_LT(before, wav.samples.size());
    EXPECT_EQ(Position(wav.samples[before]), target);
    EXPECT_EQ(RunEnd(wav.samples, before, target, 1), wav.samples.size());
    EXPECT_EQ(wav.samples.size() - before, static_cast<std::size_t>(kEndSample - target));

    // With no play the requests do nothing; a seek has nowhere to go.
    EXPECT_TRUE(player.Stop());
    EXPECT_TRUE(player.Pause());
    EXPECT_TRUE(player.Resume());
    EXPECT_FALSE(player.Seek(1));
    EXPECT_TRUE(player.SetOffset(5));
}

TEST_F(DigitalPlayerTest, ADirectionChangeReachesTheOwnerAndReverseTurnsWhereItIs)
{
    Load(kThreeTracks, "delay=20");
    Configure();
    ASSERT_TRUE(player.Start());
    ASSERT_TRUE(recorder.WaitFor([](const TRecorder::Note& n) { return n.code == dnPosition && n.value >= 100; }));
    ASSERT_TRUE(player.SetReverse(true));
    ASSERT_TRUE(recorder.WaitForEnd());
    ASSERT_TRUE(player.WaitIdle(60000));
    EXPECT_TRUE(recorder.Saw(dnDirection, 1));
    EXPECT_TRUE(recorder.Saw(dnEnd, 0));

    // Forward from the start to the turn, then backwards from the last sample written down to
    // the start.
    const TWavFile wav = ReadWav(wavPath);
    const std::size_t turn = RunEnd(wav.samples, 0, kFirstSample, 1);
    ASSERT_GT(turn, 0u);
    ASSERT_LT(turn, wav.samples.size());
    const std::int64_t last = Position(wav.samples[turn - 1]);
    EXPECT_EQ(Position(wav.samples[turn]), last);
    EXPECT_EQ(RunEnd(wav.samples, turn, last, -1), wav.samples.size());
    EXPECT_EQ(Position(wav.samples.back()), kFirstSample);
}

TEST_F(DigitalPlayerTest, ASpeedChangeDuringPlayReachesTheOwnerAndTheOutput)
{
    Load(kThreeTracks, "delay=20");
    Configure();
    ASSERT_TRUE(player.Start());
    ASSERT_TRUE(recorder.WaitFor([](const TRecorder::Note& n) { return n.code == dnPosition && n.value >= 100; }));
    EXPECT_TRUE(recorder.Saw(dnSpeedRatio, 1000)) << "the play starts at normal speed";
    ASSERT_TRUE(player.SetSpeed(2));
    EXPECT_FLOAT_EQ(player.GetSpeedRatio(), 2.0f);
    ASSERT_TRUE(recorder.WaitForEnd());
    ASSERT_TRUE(player.WaitIdle(60000));
    EXPECT_TRUE(recorder.Saw(dnSpeedRatio, 2000));
    EXPECT_TRUE(recorder.Saw(dnEnd, 0));

    // Counter audio up to the change; after it every sample is the mean of two neighbouring
    // counter samples (their sum halved toward zero), taken two by two (a chunk of odd length
    // leaves out its first sample).
    const TWavFile wav = ReadWav(wavPath);
    const std::size_t change = RunEnd(wav.samples, 0, kFirstSample, 1);
    ASSERT_GT(change, 0u);
    ASSERT_LT(change, wav.samples.size());
    const auto mean = [](std::int64_t n) {
        std::int16_t l0, r0, l1, r1;
        vdrive::CounterSample(n, l0, r0);
        vdrive::CounterSample(n + 1, l1, r1);
        const auto half = [](int a, int b) { return static_cast<std::uint16_t>((a + b) / 2); };
        return std::uint32_t{half(l0, l1)} | std::uint32_t{half(r0, r1)} << 16;
    };
    std::int64_t next = Position(wav.samples[change - 1]) + 1;
    std::size_t k = change;
    for (; k < wav.samples.size(); ++k) {
        if (wav.samples[k] != mean(next))
            ++next;
        if (wav.samples[k] != mean(next))
            break;
        next += 2;
    }
    EXPECT_EQ(k, wav.samples.size()) << "sample " << k << " is no mean of neighbours near " << next;
    EXPECT_GE(next, kEndSample - 1);
    EXPECT_LE(next, kEndSample + 1);
}

TEST_F(DigitalPlayerTest, StageSettingsChangeFromTheOwnerWhileBlocksAreProcessed)
{
    Load(kThreeTracks, "delay=20");
    Configure();
    ASSERT_TRUE(player.SetEqEnabled(true));
    ASSERT_TRUE(player.Start());
    const auto reached = [this](std::int64_t frame) {
        const auto notes = recorder.Notes();
        return std::any_of(notes.begin(), notes.end(), [frame](const TRecorder::Note& n) {
            return (n.code == dnPosition && n.value >= frame) || n.code == dnEnd || n.code == dnError;
        });
    };
    // Every setting the stages take during play, over and over, while the reading thread
    // runs them.
    for (int round = 0; !reached(300); ++round) {
        const float gain = round % 2 ? 2.0f : 0.5f;
        EXPECT_TRUE(player.SetEqParams(round % 15, gain, 3.0f, 1000.0f));
        EXPECT_TRUE(player.SetEqLevel(gain));
        EXPECT_TRUE(player.SetEqBalance(round % 201 - 100));
        EXPECT_TRUE(player.SetVolumes(gain, 1.0f / gain));
        TNormParams norm;
        norm.enabled = round % 2 == 0;
        norm.avgVolume = static_cast<std::uint32_t>(round % 100);
        EXPECT_TRUE(player.SetNormalizer(norm));
        EXPECT_TRUE(player.SetSpeedEx(1.0 + round % 3 * 0.25));
        EXPECT_TRUE(player.SetRandomSpeed(3, -1, 1 + round % 5));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The last word, given while paused: silence from frame 600 on.
    ASSERT_TRUE(player.Pause());
    EXPECT_TRUE(player.SetNormalizer(TNormParams{}));
    EXPECT_TRUE(player.SetEqEnabled(false));
    EXPECT_TRUE(player.SetVolumes(0.0f, 0.0f));
    constexpr std::int64_t kSilentFrom = 600;
    ASSERT_TRUE(player.Seek(kSilentFrom));
    ASSERT_TRUE(player.Resume());
    ASSERT_TRUE(recorder.WaitForEnd());
    ASSERT_TRUE(player.WaitIdle(60000));
    EXPECT_TRUE(recorder.Saw(dnEnd, 0));

    const TWavFile wav = ReadWav(wavPath);
    const auto tail = static_cast<std::size_t>((kEnd - kStart - kSilentFrom) * kSamples);
    ASSERT_GT(wav.samples.size(), tail);
    EXPECT_TRUE(std::all_of(wav.samples.end() - static_cast<std::ptrdiff_t>(tail), wav.samples.end(),
                            [](std::uint32_t sample) { return sample == 0; }));
    EXPECT_TRUE(std::any_of(wav.samples.begin(), wav.samples.end() - static_cast<std::ptrdiff_t>(tail),
                            [](std::uint32_t sample) { return sample != 0; }));
}

TEST_F(DigitalPlayerTest, AnOutputThatCannotOpenFailsTheStartWithTheErrorNotification)
{
    struct Case {
        int kind;
        std::string file;
    };
    Load();
    for (const Case& c : {Case{TDigitalCdPlayer::kWaveOut, ""}, Case{TDigitalCdPlayer::kDirectSound, ""},
                          Case{TDigitalCdPlayer::kAsio, ""}, Case{TDigitalCdPlayer::kWavFile, dir.File("none/x.wav")}}) {
        SCOPED_TRACE(c.kind);
        TRecorder failed;
        Configure();
        ASSERT_TRUE(player.SetNotify(&TRecorder::Notify, &failed));
        ASSERT_TRUE(player.SetOutputKind(c.kind));
        ASSERT_TRUE(player.SetFileName(c.file));
        transport->sent.clear();
        EXPECT_FALSE(player.Start());
        EXPECT_EQ(Codes(failed.Notes()), std::vector<int>{dnError});
        EXPECT_EQ(player.GetState(), TDigitalCdPlayer::dsIdle);
        EXPECT_FALSE(player.GetErrorText().empty());
        EXPECT_TRUE(transport->sent.empty()) << "the drive is not touched";
        EXPECT_TRUE(player.SetOffset(0)) << "still configurable";
    }
}

// Holds the size of files this process writes at `bytes`, turning what goes beyond into a
// write error (rather than the signal that would end the process).
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, previous_);
    }

private:
    rlimit old_{};
    sighandler_t previous_ = SIG_DFL;
};

TEST_F(DigitalPlayerTest, AWriteErrorEndsThePlayWithTheErrorNotificationAndAnHonestHeader)
{
    Load();
    Configure();
    {
        const TFileSizeLimit limit(300000); // one block of a second fits, the second does not
        ASSERT_TRUE(Play());
    }
    EXPECT_TRUE(recorder.Saw(dnError, 0));
    EXPECT_FALSE(recorder.Saw(dnEnd, 0));
    EXPECT_FALSE(player.GetErrorText().empty());

    const TWavFile wav = ReadWav(wavPath);
    ASSERT_TRUE(wav.pcmHeader);
    EXPECT_EQ(wav.riffSize, wav.fileSize - 8);
    EXPECT_EQ(wav.dataSize, wav.fileSize - 44);
    EXPECT_EQ(wav.dataSize % 4, 0u);
    EXPECT_GT(wav.samples.size(), 0u);
    EXPECT_LT(wav.samples.size(), kTrackSamples);
    EXPECT_EQ(RunEnd(wav.samples, 0, kFirstSample, 1), wav.samples.size());
}

TEST_F(DigitalPlayerTest, SettersKeepTheirRules)
{
    struct Case {
        const char* name;
        std::function<bool()> call;
        bool accepted;
    };
    const Case cases[] = {
        {"priority 2", [&] { return player.SetPriority(2); }, true},
        {"time critical", [&] { return player.SetPriority(3); }, false},
        {"compares above overlaps", [&] { return player.SetOverlaps(3, 4); }, false},
        {"overlaps as many as read at once", [&] { return player.SetOverlaps(25, 1); }, false},
        {"overlaps one below read at once", [&] { return player.SetOverlaps(24, 24); }, true},
        {"internal format 7", [&] { return player.SetInternalFormat(7); }, false},
        {"output format 6", [&] { return player.SetOutputFormat(6, true); }, true},
        {"output kind 4", [&] { return player.SetOutputKind(4); }, false},
        {"read speed 65536", [&] { return player.SetReadSpeed(65536); }, false},
        {"speed ratio 0.4", [&] { return player.SetSpeedEx(0.4); }, false},
        {"speed ratio 0.5", [&] { return player.SetSpeedEx(0.5); }, true},
        {"speed code 11", [&] { return player.SetSpeed(11); }, false},
        {"speed code 4095", [&] { return player.SetSpeed(4095); }, true},
        {"stereo mode 5", [&] { return player.SetStereo(static_cast<StereoModes>(5)); }, false},
        {"equalizer band 15", [&] { return player.SetEqParams(15, 1.0f, 3.0f, 1000.0f); }, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.accepted) << c.name;
    EXPECT_EQ(player.GetSpeedRatio(), 0.5f) << "4095 plays at the free ratio";
    EXPECT_FALSE(player.Start()) << "no notification function, no drive";
}

} // namespace
} // namespace vantrel
