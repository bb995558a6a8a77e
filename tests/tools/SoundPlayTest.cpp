// Playing a disc through the sound device from end to end: emulated drive, player
// component, digital engine, ALSA's pulse device and a private PulseAudio daemon whose
// null sink's monitor is recorded. What is heard must be the track, sample for sample.
#include <gtest/gtest.h>

#include "Ripper.h"
#include "common/PulseServer.h"
#include "vdrive/DiscMaker.h"

namespace vantrel {
namespace {

class SoundPlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.Ready())
            GTEST_SKIP() << "no PulseAudio daemon could be started here";
        vdrive::DiscPlan plan;
        std::string error;
        ASSERT_TRUE(vdrive::ParseDiscPlan("disc\ntrack length=00:03:00\n", plan, error)) << error;
        ASSERT_TRUE(vdrive::MakeDisc(plan, dir.Path().string(), image, error)) << error;
        ASSERT_TRUE(session.Open(image, "", error)) << error;
        drive = session.FindDrive(session.ImageLetter(), error);
        ASSERT_NE(drive, nullptr) << error;
        for (const cli::SoundDevice& d : cli::SoundDevices())
            if (d.pcm == "pulse")
                options.soundDevice = d.index;
        ASSERT_GT(options.soundDevice, 0) << "ALSA lists its pulse device";
    }

    testing::PulseServer server;
    testing::TempDir dir;
    std::string image;
    cli::DriveSession session;
    const TKsCdRom* drive = nullptr;
    cli::RipOptions options;
};

TEST_F(SoundPlay, TheSinkHearsTheTrackSampleForSample)
{
    testing::PulseServer::Recording recording(server.File("heard.raw"));
    std::vector<cli::RipTrackResult> results;
    std::string error;
    ASSERT_TRUE(cli::RipTracks(session, *drive, options, results, error)) << error;
    ASSERT_EQ(results.size(), 1u);
    ASSERT_TRUE(results[0].ok) << results[0].error;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    recording.Stop();

    std::vector<std::int64_t> heard;
    for (const std::uint32_t frame : recording.Frames())
        if (frame != 0)
            heard.push_back(vdrive::CounterPosition(static_cast<std::int16_t>(frame & 0xFFFF),
                                                    static_cast<std::int16_t>(frame >> 16)));
    ASSERT_EQ(heard.size(), 225u * 588);
    for (std::size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], 150 * 588 + static_cast<std::int64_t>(i)) << "sample " << i;
}

TEST_F(SoundPlay, ADeviceThatCannotBeOpenedEndsThePlayWithItsName)
{
    ::setenv("PULSE_SERVER", ("unix:" + dir.File("no-daemon-here")).c_str(), 1);
    std::vector<cli::RipTrackResult> results;
    std::string error;
    ASSERT_TRUE(cli::RipTracks(session, *drive, options, results, error)) << error;
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_NE(results[0].error.find("'pulse'"), std::string::npos) << results[0].error;
}

}  // namespace
}  // namespace vantrel
