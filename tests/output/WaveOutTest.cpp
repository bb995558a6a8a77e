#include "output/WaveOut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/PulseServer.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// Frame n of a test stream: left = low 16 bits, right = the next 14 bits with a marker.
std::uint32_t StreamFrame(std::uint32_t n) { return (n & 0xFFFF) | ((0x8000u | ((n >> 16) & 0x3FFF)) << 16); }
std::int64_t StreamIndex(std::uint32_t frame)
{
    return (frame >> 31) ? static_cast<std::int64_t>(((frame >> 16) & 0x3FFF) << 16 | (frame & 0xFFFF)) : -1;
}

std::vector<std::uint32_t> Stream(std::uint32_t first, std::uint32_t count)
{
    std::vector<std::uint32_t> frames(count);
    for (std::uint32_t i = 0; i < count; ++i)
        frames[i] = StreamFrame(first + i);
    return frames;
}

// Writes frames in buffer-sized pieces, as the output manager does.
bool WriteAll(TWaveOut& out, const std::vector<std::uint32_t>& frames)
{
    const std::size_t per = out.GetBufferFrames();
    for (std::size_t at = 0; at < frames.size(); at += per)
        if (!out.Write(frames.data() + at, std::min(per, frames.size() - at) * 4))
            return false;
    return true;
}

// The stream frames in a recording, in order, from the first one; silence skipped.
std::vector<std::int64_t> Played(const std::vector<std::uint32_t>& recorded)
{
    std::vector<std::int64_t> played;
    for (const std::uint32_t frame : recorded)
        if (frame != 0)
            played.push_back(StreamIndex(frame));
    return played;
}

class WaveOutPulse : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.Ready())
            GTEST_SKIP() << "no PulseAudio daemon could be started here";
        ASSERT_TRUE(out.SetDevice(std::string("pulse")));
        ASSERT_TRUE(out.SetBuffer(250, 4));
    }
    testing::PulseServer server;
    TWaveOut out;
};

TEST_F(WaveOutPulse, TheMonitorHearsEverySampleInOrder)
{
    testing::PulseServer::Recording recording(server.File("played.raw"));
    ASSERT_TRUE(out.Open()) << out.GetLastError();
    const std::vector<std::uint32_t> frames = Stream(0, 44100 * 2);
    ASSERT_TRUE(WriteAll(out, frames));
    ASSERT_TRUE(out.Close());
    std::this_thread::sleep_for(200ms);
    recording.Stop();
    const std::vector<std::int64_t> played = Played(recording.Frames());
    ASSERT_EQ(played.size(), frames.size());
    for (std::size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], static_cast<std::int64_t>(i)) << "frame " << i;
}

TEST_F(WaveOutPulse, PauseAndRestartNeitherDropNorRepeat)
{
    testing::PulseServer::Recording recording(server.File("paused.raw"));
    ASSERT_TRUE(out.Open()) << out.GetLastError();
    ASSERT_TRUE(WriteAll(out, Stream(0, 44100)));
    ASSERT_TRUE(out.Pause());
    std::this_thread::sleep_for(400ms);
    ASSERT_TRUE(out.Restart());
    ASSERT_TRUE(WriteAll(out, Stream(44100, 44100)));
    ASSERT_TRUE(out.Close());
    std::this_thread::sleep_for(200ms);
    recording.Stop();
    const std::vector<std::int64_t> played = Played(recording.Frames());
    ASSERT_EQ(played.size(), 88200u);
    for (std::size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], static_cast<std::int64_t>(i)) << "frame " << i;
}

TEST_F(WaveOutPulse, ResetGivesEveryBufferBack)
{
    ASSERT_TRUE(out.Open()) << out.GetLastError();
    out.SetTimeout(100);
    const std::vector<std::uint32_t> buffer = Stream(0, out.GetBufferFrames());
    int written = 0;
    while (written < 20 && out.Write(buffer.data(), buffer.size() * 4))
        ++written;
    EXPECT_GE(written, 4);
    EXPECT_LT(written, 20) << "a real-time device cannot take 5 s of audio at once";
    ASSERT_TRUE(out.Reset());
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(out.Write(buffer.data(), buffer.size() * 4)) << "buffer " << i;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(out.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s) << "closing drains, then returns";
}

TEST(WaveOut, AMissingDeviceFailsToOpenWithItsName)
{
    TWaveOut out;
    ASSERT_TRUE(out.SetDevice(std::string("vantrel_no_such_device")));
    EXPECT_FALSE(out.Open());
    EXPECT_NE(out.GetLastError().find("vantrel_no_such_device"), std::string::npos) << out.GetLastError();
    EXPECT_FALSE(out.Write("x", 1));
    EXPECT_FALSE(out.Close());
}

TEST(WaveOut, FormatRecordsBecomeTheseAlsaFormats)
{
    struct Case {
        TWaveDataType type;
        bool extensible;
        snd_pcm_format_t alsa;
    };
    const Case cases[] = {
        {wdInt8, false, SND_PCM_FORMAT_U8},         {wdInt16, false, SND_PCM_FORMAT_S16_LE},
        {wdInt24, false, SND_PCM_FORMAT_S24_3LE},   {wdInt32, false, SND_PCM_FORMAT_S32_LE},
        {wdFloat32, false, SND_PCM_FORMAT_FLOAT_LE}, {wdFloat64, false, SND_PCM_FORMAT_FLOAT64_LE},
        {wdInt16, true, SND_PCM_FORMAT_S16_LE},     {wdInt24, true, SND_PCM_FORMAT_S24_3LE},
        {wdInt32, true, SND_PCM_FORMAT_S32_LE},     {wdFloat32, true, SND_PCM_FORMAT_FLOAT_LE},
    };
    for (const Case& c : cases) {
        TWaveOut out;
        ASSERT_TRUE(out.SetFormatEx(c.type, c.extensible, 44100, 2, 3));
        EXPECT_EQ(TWaveOut::AlsaFormat(out.Format()), c.alsa) << int(c.type) << " " << c.extensible;
        ASSERT_TRUE(out.SetDevice(std::string("null")));
        ASSERT_TRUE(out.Open()) << out.GetLastError();
        EXPECT_EQ(out.Opened().format, c.alsa) << "the format the device was set to";
        EXPECT_EQ(out.Opened().channels, 2u);
        EXPECT_EQ(out.Opened().rate, 44100u);
        EXPECT_TRUE(out.Close());
    }
}

TEST(WaveOut, PassThroughOpensOnlyOnADigitalOutput)
{
    TWaveOut out;
    ASSERT_TRUE(out.SetFormatEx(wdAc3Spdif, false, 48000, 2, 0));
    ASSERT_TRUE(out.SetDevice(std::string("null")));
    EXPECT_FALSE(out.Open()) << "encoded frames must never play as noise";
    EXPECT_NE(out.GetLastError().find("cannot take AC-3/DTS pass-through"), std::string::npos) << out.GetLastError();
    EXPECT_TRUE(TWaveOut::TakesPassThrough("iec958:CARD=0"));
    EXPECT_TRUE(TWaveOut::TakesPassThrough("hdmi:CARD=1,DEV=0"));
    EXPECT_FALSE(TWaveOut::TakesPassThrough("default"));
    ASSERT_TRUE(out.SetFormatEx(wdInt16, false, 44100, 2, 3));
    EXPECT_FALSE(TWaveOut::IsPassThrough(out.Format()));
}

TEST(WaveOut, DeviceZeroIsTheDefaultAndAnIndexBeyondTheListTakesIt)
{
    TWaveOut out;
    const int count = out.GetNumDevs();
    ASSERT_GE(count, 1);
    EXPECT_EQ(out.GetDevName(0), "default");
    EXPECT_EQ(out.GetDevName(count), "");
    ASSERT_TRUE(out.SetDevice(count + 5));
    EXPECT_EQ(out.DevicePcm(), "default");
}

}  // namespace
}  // namespace vantrel
