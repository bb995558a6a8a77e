#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "TestDisc.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/codec/SubLayout.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel::vdrive::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kPause{0x4B, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kResume{0x4B, 0, 0, 0, 0, 0, 0, 0, 1, 0};
const Bytes kStop{0x4E, 0, 0, 0, 0, 0, 0, 0, 0, 0};

std::int32_t Be32(const Bytes& b, std::size_t at)
{
    return static_cast<std::int32_t>(std::uint32_t{b[at]} << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]);
}

// A drive whose play clock is a number the test turns.
class AnalogPlay : public ::testing::Test {
protected:
    void Start(const char* text = "")
    {
        DriveOptions options;
        std::string error;
        ASSERT_TRUE(ParseDriveOptions(text, options, error)) << error;
        drive = std::make_unique<VirtualDrive>(options);
        drive->SetClock([this] { return now.load(); });
        drive->OnMediaChange = [this](bool inserted) { events.push_back(inserted); };
        drive->Insert(ThreeTracks());
    }
    void Wait(std::int64_t ms) { now += ms; }
    // Audio status and absolute sector from READ SUB-CHANNEL.
    std::pair<int, std::int32_t> Poll()
    {
        const Answer a = In(*drive, ReadSubChannel(false), 16);
        EXPECT_TRUE(a.Good());
        return a.data.size() == 16 ? std::pair{int{a.data[1]}, Be32(a.data, 8)} : std::pair{-1, -1};
    }

    std::atomic<std::int64_t> now{123456};
    std::vector<bool> events;
    std::unique_ptr<VirtualDrive> drive;
};

TEST_F(AnalogPlay, StatusFollowsPlayPauseResumeAndCompletion)
{
    Start();
    EXPECT_EQ(Poll(), (std::pair{0x15, 0}));
    ASSERT_EQ(NoData(*drive, PlayMsf(0, 300)).status, kStatusGood);
    EXPECT_EQ(Poll(), (std::pair{0x11, 0}));
    Wait(1000);
    EXPECT_EQ(Poll(), (std::pair{0x11, 75}));
    EXPECT_EQ(NoData(*drive, kPause).status, kStatusGood);
    Wait(5000);
    EXPECT_EQ(Poll(), (std::pair{0x12, 75}));
    EXPECT_EQ(NoData(*drive, kResume).status, kStatusGood);
    Wait(2000);
    EXPECT_EQ(Poll(), (std::pair{0x11, 225}));
    Wait(1000);
    EXPECT_EQ(Poll(), (std::pair{0x13, 299})); // completed, reported once
    EXPECT_EQ(Poll(), (std::pair{0x15, 299}));
    EXPECT_EQ(NoData(*drive, kPause).sense, (Sense{5, 0x2C, 0}));
    EXPECT_EQ(NoData(*drive, kResume).sense, (Sense{5, 0x2C, 0}));
}

TEST_F(AnalogPlay, StopAndSeekEndThePlay)
{
    Start();
    NoData(*drive, PlayMsf(0, 300));
    Wait(1000);
    EXPECT_EQ(NoData(*drive, kStop).status, kStatusGood);
    Wait(1000);
    EXPECT_EQ(Poll(), (std::pair{0x15, 75}));
    NoData(*drive, PlayMsf(0, 300));
    EXPECT_EQ(NoData(*drive, Seek(500)).status, kStatusGood);
    Wait(1000);
    EXPECT_EQ(Poll(), (std::pair{0x15, 500}));
}

TEST_F(AnalogPlay, ClockFactorSpeedsThePosition)
{
    Start("clock=10");
    NoData(*drive, PlayMsf(0, 300));
    Wait(100);
    EXPECT_EQ(Poll(), (std::pair{0x11, 75}));
}

// Playing from sector 300, 75 frames before index 1 of track 2: the relative time counts
// down (negative in sector form), index 0; a second later index 1 begins.
TEST_F(AnalogPlay, PositionInBothFormsThroughAPregap)
{
    Start();
    NoData(*drive, PlayMsf(300, 600));
    EXPECT_EQ(In(*drive, ReadSubChannel(true), 16).data,
              (Bytes{0, 0x11, 0, 12, 1, 0x11, 2, 0, 0, 0, 6, 0, 0, 0, 1, 0}));
    EXPECT_EQ(In(*drive, ReadSubChannel(false), 16).data,
              (Bytes{0, 0x11, 0, 12, 1, 0x11, 2, 0, 0, 0, 0x01, 0x2C, 0xFF, 0xFF, 0xFF, 0xB5}));
    Wait(1000);
    EXPECT_EQ(In(*drive, ReadSubChannel(true), 16).data,
              (Bytes{0, 0x11, 0, 12, 1, 0x11, 2, 1, 0, 0, 7, 0, 0, 0, 0, 0}));
    // Without SubQ only the header with the status comes back.
    EXPECT_EQ(In(*drive, {0x42, 0x02, 0x00, 0x01, 0, 0, 0, 0, 16, 0}, 16).data, (Bytes{0, 0x11, 0, 0}));
}

TEST_F(AnalogPlay, SeekThenPositionOfAPregapSector)
{
    Start();
    ASSERT_EQ(NoData(*drive, Seek(330)).status, kStatusGood);
    EXPECT_EQ(In(*drive, ReadSubChannel(true), 16).data,
              (Bytes{0, 0x15, 0, 12, 1, 0x11, 2, 0, 0, 0, 6, 30, 0, 0, 0, 45}));
    EXPECT_EQ(In(*drive, ReadSubChannel(false), 16).data,
              (Bytes{0, 0x15, 0, 12, 1, 0x11, 2, 0, 0, 0, 0x01, 0x4A, 0xFF, 0xFF, 0xFF, 0xD3}));
}

TEST_F(AnalogPlay, PlayRangesAreChecked)
{
    Start();
    const std::pair<Bytes, Sense> cases[] = {
        {PlayMsf(300, 200), {5, 0x24, 0}},
        {PlayMsf(0, 901), {5, 0x21, 0}},
        {PlayMsf(10, 10), {}}, // plays nothing, no error
        {{0xA5, 0, 0, 0, 0, 10, 0, 0, 0, 75, 0, 0}, {}},
    };
    for (const auto& [cdb, sense] : cases)
        EXPECT_EQ(NoData(*drive, cdb).sense, sense);
    EXPECT_EQ(Poll(), (std::pair{0x11, 10})); // PLAY AUDIO(12) from 10
}

TEST_F(AnalogPlay, ErrorSectorEndsPlayWithErrorStatus)
{
    Start("errors=150");
    NoData(*drive, PlayMsf(0, 300));
    Wait(3000);
    EXPECT_EQ(Poll(), (std::pair{0x14, 150}));
    EXPECT_EQ(Poll(), (std::pair{0x15, 150}));
}

TEST_F(AnalogPlay, TrayOpensWhenPlayReachesTheSector)
{
    Start("tray-open-at=100");
    NoData(*drive, PlayMsf(0, 300));
    Wait(1000);
    EXPECT_EQ(Poll(), (std::pair{0x11, 75}));
    Wait(1000);
    EXPECT_EQ(In(*drive, ReadSubChannel(false), 16).result.sense, (Sense{2, 0x3A, 0}));
    EXPECT_TRUE(drive->TrayOpen());
    EXPECT_EQ(events, (std::vector<bool>{true, false}));
    NoData(*drive, {0x1B, 1, 0, 0, 3, 0});
    NoData(*drive, PlayMsf(0, 300));
    Wait(5000);
    EXPECT_EQ(Poll(), (std::pair{0x13, 299})); // once per disc
}

TEST_F(AnalogPlay, SubCodeCommandReadsAtThePlayPosition)
{
    Start();
    NoData(*drive, PlayMsf(0, 300));
    Wait(1000);
    const Answer a = In(*drive, {0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0}, 2 * 96);
    ASSERT_EQ(a.data.size(), 2u * 96);
    std::uint8_t q[12];
    ExtractQ(a.data.data(), q); // sector 75: track 1 (copy permitted), 00:01:00, 00:03:00
    EXPECT_EQ(Bytes(q, q + 12), (Bytes{0x21, 0x01, 0x01, 0, 0x01, 0, 0, 0, 0x03, 0, 0x15, 0xB4}));
    ExtractQ(a.data.data() + 96, q);
    EXPECT_EQ(q[9], 0x01);
    EXPECT_EQ(Poll().first, 0x11); // the play goes on
}

struct Recorder : ILineOut {
    void Audio(const std::int16_t* stereo, std::size_t frames) override
    {
        samples.insert(samples.end(), stereo, stereo + 2 * frames);
        ++calls;
    }
    std::vector<std::int16_t> samples;
    int calls = 0;
};

// Every frame the line out hears names its own position: nothing lost, doubled or reordered.
::testing::AssertionResult HeardInOrder(const Recorder& recorder, std::int64_t firstSample, std::int64_t frames)
{
    if (recorder.samples.size() != static_cast<std::size_t>(2 * frames))
        return ::testing::AssertionFailure() << recorder.samples.size() / 2 << " frames heard, not " << frames;
    for (std::int64_t f = 0; f < frames; ++f) {
        const auto at = static_cast<std::size_t>(2 * f);
        if (CounterPosition(recorder.samples[at], recorder.samples[at + 1]) != firstSample + f)
            return ::testing::AssertionFailure() << "frame " << f << " is wrong";
    }
    return ::testing::AssertionSuccess();
}

TEST_F(AnalogPlay, LineOutHearsThePlayInOrderAndNothingWhilePaused)
{
    Start();
    Recorder recorder;
    drive->SetLineOut(&recorder);
    NoData(*drive, PlayMsf(10, 20));
    for (int step = 0; step < 3; ++step) {
        Wait(37);
        drive->AdvanceLineOut();
    }
    NoData(*drive, kPause);
    const std::size_t beforePause = recorder.samples.size();
    Wait(500);
    drive->AdvanceLineOut();
    EXPECT_EQ(recorder.samples.size(), beforePause);
    NoData(*drive, kResume);
    for (int step = 0; step < 6; ++step) {
        Wait(29);
        Poll(); // commands in between move the clock too
        drive->AdvanceLineOut();
    }
    Wait(1000);
    drive->AdvanceLineOut();
    EXPECT_TRUE(HeardInOrder(recorder, FirstSample(10), 10 * 588));
    drive->SetLineOut(nullptr);
    NoData(*drive, PlayMsf(10, 20));
    Wait(1000);
    drive->AdvanceLineOut();
    EXPECT_EQ(recorder.samples.size(), 2u * 10 * 588);
}

TEST_F(AnalogPlay, LineOutFollowsTheAudioControlPage)
{
    Start();
    // Port 0 takes the right channel at full volume, port 1 the left at 128/255.
    Bytes page{0, 0, 0, 0, 0, 0, 0, 0, 0x0E, 14, 0x04, 0, 0, 0, 0, 0, 2, 255, 1, 128, 0, 0, 0, 0};
    ASSERT_EQ(Out(*drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 24, 0}, page).status, kStatusGood);
    Recorder recorder;
    drive->SetLineOut(&recorder);
    NoData(*drive, PlayMsf(10, 11));
    Wait(1000);
    drive->AdvanceLineOut();
    ASSERT_EQ(recorder.samples.size(), 2u * 588);
    // Sample 94080 = 16F80 hex: left 6F80 (28544), right 8001 (-32767).
    EXPECT_EQ(recorder.samples[0], -32767);
    EXPECT_EQ(recorder.samples[1], 28544 * 128 / 255); // 14328
}

TEST_F(AnalogPlay, PollingAndListeningFromOtherThreads)
{
    Start();
    Recorder recorder;
    drive->SetLineOut(&recorder);
    NoData(*drive, PlayMsf(0, 900));
    {
        std::jthread poller([&] {
            for (int i = 0; i < 300; ++i)
                In(*drive, ReadSubChannel(false), 16);
        });
        std::jthread listener([&] {
            for (int i = 0; i < 300; ++i)
                drive->AdvanceLineOut();
        });
        for (int i = 0; i < 300; ++i)
            Wait(7);
    }
    Wait(20000);
    drive->AdvanceLineOut();
    EXPECT_EQ(Poll().first, 0x13);
    EXPECT_TRUE(HeardInOrder(recorder, FirstSample(0), 900 * 588));
}

} // namespace
} // namespace vantrel::vdrive::test
