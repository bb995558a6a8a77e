#include "output/OutputManager.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "output/WavFile.h"

namespace vantrel {
namespace {

using testing::Le32;
using testing::TempDir;

// 16-bit stereo frames, interleaved, with both extremes at the start.
std::vector<std::int16_t> RandomInput(std::size_t frames, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<std::int16_t> input(frames * 2);
    for (auto& s : input)
        s = static_cast<std::int16_t>(sample(rng));
    input[0] = -32768;
    input[1] = 32767;
    return input;
}

std::string Bytes(const void* data, std::size_t bytes)
{
    return {static_cast<const char*>(data), bytes};
}

// Everything an output was told and given; lives in the test, the output in the manager.
struct OutLog {
    TWaveDataType type = wdInt16;
    bool extensible = false;
    int rate = 0;
    int channels = 0;
    std::uint32_t mask = 0;
    unsigned bufferMs = 0;
    int device = -1;
    std::vector<int> channelMap;
    int asioStep = 0;
    bool asioMonitor = false;
    int asioPriority = 0;
    bool open = false;
    bool refuseOpen = false;
    int zeroWritesAccepted = 0; // for the drain of the buffered outputs
    std::vector<std::string> writes;
    std::vector<std::string> planarLeft;
    int resets = 0;
    int pauses = 0;
    int restarts = 0;
};

class FakeOut : public TAudioOut, public TAsioControls {
public:
    explicit FakeOut(OutLog& log) : log_(log) {}
    using TAudioOut::SetDevice;

    bool SetFormat(int, int, int) override { return false; }
    bool SetFormatEx(TWaveDataType type, bool extensible, int rate, int channels, std::uint32_t mask) override
    {
        log_.type = type;
        log_.extensible = extensible;
        log_.rate = rate;
        log_.channels = channels;
        log_.mask = mask;
        return true;
    }
    bool SetChannelMap(int sourceChannels, int outputChannels, std::span<const int> sources) override
    {
        EXPECT_EQ(sourceChannels, 2);
        EXPECT_EQ(static_cast<std::size_t>(outputChannels), sources.size());
        log_.channelMap.assign(sources.begin(), sources.end());
        return true;
    }
    bool SetBuffer(unsigned lengthMs, std::uint8_t) override
    {
        log_.bufferMs = lengthMs;
        return true;
    }
    unsigned GetBufferFrames() const override { return BufferFramesFor(log_.rate, log_.bufferMs); }
    unsigned GetBufferBytes() const override
    {
        return GetBufferFrames() * static_cast<unsigned>(log_.channels * GetDataBytes(log_.type));
    }
    bool SetDevice(int index) override
    {
        log_.device = index;
        return true;
    }
    bool Open() override { return log_.open = !log_.refuseOpen; }
    bool Close() override
    {
        log_.open = false;
        return true;
    }
    bool Write(const void* data, std::size_t bytes) override
    {
        log_.writes.push_back(Bytes(data, bytes));
        return bytes > 0 || log_.zeroWritesAccepted-- > 0;
    }
    bool WritePlanar(const void* const* channels, std::size_t frames) override
    {
        log_.planarLeft.push_back(Bytes(channels[0], frames * GetDataBytes(log_.type)));
        return true;
    }
    bool Reset() override { return ++log_.resets; }
    bool Pause() override { return ++log_.pauses; }
    bool Restart() override { return ++log_.restarts; }
    int GetNumDevs() override { return 1; }
    std::string GetDevName(int) override { return {}; }

    bool SetAsioParams(int step, bool monitor) override
    {
        log_.asioStep = step;
        log_.asioMonitor = monitor;
        return true;
    }
    void SetPriority(int priority) override { log_.asioPriority = priority; }

private:
    OutLog& log_;
};

std::string Joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const auto& part : parts)
        all += part;
    return all;
}

// ---- The WAV file end to end ----

struct ConversionCase {
    const char* name;
    TWaveDataType internal;
    TWaveDataType output;
};

void PrintTo(const ConversionCase& c, std::ostream* os)
{
    *os << c.name;
}

// What a 16-bit sample becomes in the output type, by way of the internal type.
void AppendConverted(std::string& out, std::int16_t s, const ConversionCase& c)
{
    auto append = [&out](const auto& value, std::size_t bytes) {
        out.append(reinterpret_cast<const char*>(&value), bytes);
    };
    switch (c.output) {
    case wdInt8:
        // Unsigned bytes: integers narrow by an arithmetic shift, floats truncate
        // x / 256 + 128, which is never negative; both round toward minus infinity.
        append(static_cast<std::uint8_t>((s >> 8) + 128), 1);
        break;
    case wdInt16:
        append(s, 2);
        break;
    case wdInt24:
        append(static_cast<std::int32_t>(s) * 256, 3);
        break;
    case wdInt32:
        append(static_cast<std::int32_t>(s) * 65536, 4);
        break;
    case wdFloat32:
        append(static_cast<float>(s / 32768.0), 4);
        break;
    case wdFloat64:
        append(s / 32768.0, 8);
        break;
    default:
        FAIL() << "no expectation for output type " << int(c.output);
    }
}

class ManagerToFile : public ::testing::TestWithParam<ConversionCase> {};

// Chunks of random sizes (some empty) cut into blocks of 441 frames; Flush sends the rest.
// The file holds every frame, each sample converted exactly.
TEST_P(ManagerToFile, EverySampleArrivesConverted)
{
    const ConversionCase& c = GetParam();
    TempDir dir;
    const std::string file = dir.File("out.wav");
    constexpr std::size_t kFrames = 5000;
    const auto input = RandomInput(kFrames, 7);

    TOutputManager manager;
    ASSERT_TRUE(manager.SetOutputMode(omDisk));
    ASSERT_TRUE(manager.SetFileName(file));
    ASSERT_TRUE(manager.SetInternalFormat(c.internal));
    ASSERT_TRUE(manager.SetOutputFormat(c.output, 44100, false));
    ASSERT_TRUE(manager.SetBuffers(10, 2));
    ASSERT_TRUE(manager.Open()) << manager.GetLastError();
    EXPECT_EQ(manager.GetBlockFrames(), 441u);

    std::mt19937 rng(11);
    std::uniform_int_distribution<std::size_t> chunk(0, 1200);
    for (std::size_t done = 0; done < kFrames;) {
        const std::size_t frames = std::min(chunk(rng), kFrames - done);
        ASSERT_TRUE(manager.Write(input.data() + 2 * done, frames));
        done += frames;
        ASSERT_EQ(manager.GetFilledFrames(), done % 441);
    }
    ASSERT_TRUE(manager.Flush());
    ASSERT_TRUE(manager.Close()) << manager.GetLastError();

    std::string expected;
    for (std::int16_t s : input)
        AppendConverted(expected, s, c);
    const std::string bytes = TempDir::Read(file);
    const std::size_t header = c.output >= wdFloat32 ? 46 : 44;
    ASSERT_EQ(bytes.size(), header + expected.size());
    EXPECT_EQ(Le32(bytes, header - 4), expected.size());
    EXPECT_TRUE(bytes.substr(header) == expected) << "sample data differs";
}

INSTANTIATE_TEST_SUITE_P(Types, ManagerToFile,
                         ::testing::Values(ConversionCase{"Int16", wdInt24In32, wdInt16},
                                           ConversionCase{"Int16ThroughInt16", wdInt16, wdInt16},
                                           ConversionCase{"Int16ThroughFloat", wdFloat32S16, wdInt16},
                                           ConversionCase{"Int8", wdInt24In32, wdInt8},
                                           ConversionCase{"Int8ThroughFloat", wdFloat64S16, wdInt8},
                                           ConversionCase{"Int24", wdInt24In32, wdInt24},
                                           ConversionCase{"Int32", wdInt24In32, wdInt32},
                                           ConversionCase{"Float32", wdInt24In32, wdFloat32},
                                           ConversionCase{"Float64", wdFloat64S16, wdFloat64}),
                         [](const auto& info) { return std::string(info.param.name); });

// A full disk in the middle of play: the write that hits it fails and says why, later ones
// fail too, Close reports the failure, and the file left behind is a valid WAV file whose
// sizes describe exactly the whole frames that reached the disk.
TEST(OutputManager, FullDiskLeavesAConsistentFile)
{
    TempDir dir;
    const std::string file = dir.File("full.wav");
    const auto input = RandomInput(3 * 441, 5);
    TOutputManager manager;
    ASSERT_TRUE(manager.SetOutputMode(omDisk));
    ASSERT_TRUE(manager.SetFileName(file));
    ASSERT_TRUE(manager.SetBuffers(10, 2));
    bool written = true;
    bool writtenAfter = true;
    bool closed = true;
    {
        // Room for the header, two blocks and a frame and a half of the third.
        testing::FileSizeLimit limit(44 + 2 * 1764 + 6);
        ASSERT_TRUE(limit.Ok());
        ASSERT_TRUE(manager.Open()) << manager.GetLastError();
        written = manager.Write(input.data(), 3 * 441);
        writtenAfter = manager.Write(input.data(), 441);
        closed = manager.Close();
    }
    EXPECT_FALSE(written);
    EXPECT_FALSE(writtenAfter);
    EXPECT_FALSE(closed);
    EXPECT_NE(manager.GetLastError().find("full.wav"), std::string::npos) << manager.GetLastError();

    const std::size_t dataBytes = (2 * 441 + 1) * 4;
    const std::string bytes = TempDir::Read(file);
    ASSERT_EQ(bytes.size(), 44 + dataBytes);
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(Le32(bytes, 40), dataBytes);
    EXPECT_EQ(bytes.substr(44), Bytes(input.data(), dataBytes));
    if (testing::HaveSoxi()) {
        EXPECT_EQ(testing::Soxi('s', file), std::to_string(2 * 441 + 1));
    }

    // The next play starts clean.
    ASSERT_TRUE(manager.Open());
    EXPECT_TRUE(manager.GetLastError().empty());
    EXPECT_TRUE(manager.Write(input.data(), 10));
    EXPECT_TRUE(manager.Close());
}

// ---- Blocks, stages and the other outputs, through a recording output ----

class ManagerWithFakeOut : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(manager_.InstallOutput(omWaveOut, std::make_unique<FakeOut>(log_)));
        ASSERT_TRUE(manager_.SetBuffers(10, 2));
        ASSERT_TRUE(manager_.SetDevIndex(4));
    }

    // Interleaved 16-bit output bytes of input frames [from, from + count).
    std::string Frames(std::size_t from, std::size_t count) const { return Bytes(input_.data() + 2 * from, count * 4); }

    OutLog log_; // outlives the manager, which owns the output writing to it
    TOutputManager manager_;
    std::vector<std::int16_t> input_ = RandomInput(2000, 3);
};

TEST_F(ManagerWithFakeOut, BlocksFormAcrossChunks)
{
    ASSERT_TRUE(manager_.Open());
    EXPECT_EQ(log_.type, wdInt16);
    EXPECT_EQ(log_.rate, 44100);
    EXPECT_EQ(log_.channels, 2);
    EXPECT_EQ(log_.mask, 3u);
    EXPECT_EQ(log_.device, 4);
    ASSERT_EQ(manager_.GetBlockFrames(), 441u);

    ASSERT_TRUE(manager_.Write(input_.data(), 200)); // less than a block: nothing sent
    EXPECT_TRUE(log_.writes.empty());
    EXPECT_EQ(manager_.GetFilledFrames(), 200u);

    ASSERT_TRUE(manager_.Write(input_.data() + 2 * 200, 241)); // exactly the rest of the block
    ASSERT_EQ(log_.writes.size(), 1u);
    EXPECT_EQ(manager_.GetFilledFrames(), 0u);

    ASSERT_TRUE(manager_.Write(input_.data() + 2 * 441, 1000)); // two blocks and 118 frames
    ASSERT_EQ(log_.writes.size(), 3u);
    EXPECT_EQ(manager_.GetFilledFrames(), 118u);
    for (const auto& write : log_.writes)
        EXPECT_EQ(write.size(), 441u * 4);
    EXPECT_EQ(Joined(log_.writes), Frames(0, 3 * 441));

    ASSERT_TRUE(manager_.Flush()); // the partial block
    ASSERT_EQ(log_.writes.size(), 4u);
    EXPECT_EQ(log_.writes.back(), Frames(3 * 441, 118));
    ASSERT_TRUE(manager_.Close());
    EXPECT_FALSE(log_.open);
    EXPECT_EQ(log_.writes.size(), 4u) << "waveOut drains inside its own Close";
    EXPECT_FALSE(manager_.Write(input_.data(), 1));
    EXPECT_FALSE(manager_.Flush());
}

TEST_F(ManagerWithFakeOut, ResetDropsThePartialBlock)
{
    ASSERT_TRUE(manager_.Open());
    ASSERT_TRUE(manager_.Write(input_.data(), 300));
    EXPECT_EQ(manager_.Pause(), 1);
    EXPECT_EQ(manager_.Restart(), 1);
    EXPECT_EQ(manager_.Reset(), 1);
    EXPECT_EQ(log_.pauses, 1);
    EXPECT_EQ(log_.restarts, 1);
    EXPECT_EQ(log_.resets, 1);
    EXPECT_EQ(manager_.GetFilledFrames(), 0u);

    ASSERT_TRUE(manager_.Flush()); // an empty block is still written, with no bytes
    ASSERT_EQ(log_.writes.size(), 1u);
    EXPECT_TRUE(log_.writes[0].empty());

    ASSERT_TRUE(manager_.Write(input_.data() + 2 * 300, 441));
    ASSERT_EQ(log_.writes.size(), 2u);
    EXPECT_EQ(log_.writes[1], Frames(300, 441));
}

TEST_F(ManagerWithFakeOut, SettersAreRefusedWhileOpen)
{
    ASSERT_TRUE(manager_.Open());
    const std::vector<std::pair<const char*, std::function<bool()>>> setters = {
        {"SetOutputMode", [&] { return manager_.SetOutputMode(omDisk); }},
        {"SetAc3Params", [&] { return manager_.SetAc3Params(true, true); }},
        {"SetAsioParams", [&] { return manager_.SetAsioParams(1, 1, 1, true); }},
        {"SetInputFormat", [&] { return manager_.SetInputFormat(wdInt32, 48000); }},
        {"SetInternalFormat", [&] { return manager_.SetInternalFormat(wdFloat64S16); }},
        {"SetOutputFormat", [&] { return manager_.SetOutputFormat(wdFloat32, 96000, true); }},
        {"SetBuffers", [&] { return manager_.SetBuffers(20, 3); }},
        {"SetDevIndex", [&] { return manager_.SetDevIndex(1); }},
        {"SetFileName", [&] { return manager_.SetFileName("x.wav"); }},
        {"SetDeEmphsizer", [&] { return manager_.SetDeEmphsizer(nullptr); }},
        {"SetVolumeChanger", [&] { return manager_.SetVolumeChanger(nullptr); }},
        {"SetStereoChanger", [&] { return manager_.SetStereoChanger(nullptr); }},
        {"SetSpeedChanger", [&] { return manager_.SetSpeedChanger(nullptr); }},
        {"SetCompresser", [&] { return manager_.SetCompresser(nullptr); }},
        {"SetEqualizer", [&] { return manager_.SetEqualizer(nullptr); }},
        {"InstallOutput", [&] { return manager_.InstallOutput(omDirectSound, nullptr); }},
    };
    for (const auto& [name, set] : setters)
        EXPECT_FALSE(set()) << name;
    EXPECT_FALSE(manager_.Open());
    ASSERT_TRUE(manager_.Close());

    // Nothing was changed: the next Open sets the output up as the first did.
    log_ = OutLog{};
    ASSERT_TRUE(manager_.Open());
    EXPECT_EQ(log_.type, wdInt16);
    EXPECT_EQ(log_.rate, 44100);
    EXPECT_FALSE(log_.extensible);
    EXPECT_EQ(log_.bufferMs, 10u);
    EXPECT_EQ(log_.device, 4);
    ASSERT_TRUE(manager_.Close());
    for (const auto& [name, set] : setters)
        EXPECT_TRUE(set()) << name;
}

TEST_F(ManagerWithFakeOut, OutOfRangeModeOpensWaveOut)
{
    ASSERT_TRUE(manager_.SetOutputMode(7));
    ASSERT_TRUE(manager_.Open());
    EXPECT_EQ(manager_.GetOutputMode(), omWaveOut);
    EXPECT_TRUE(log_.open);
}

TEST(OutputManager, OutputsThatAreMissingOrFailDoNotOpen)
{
    TOutputManager manager;
    for (int mode : {omWaveOut, omDirectSound, omAsio}) {
        ASSERT_TRUE(manager.SetOutputMode(mode));
        EXPECT_FALSE(manager.Open());
        EXPECT_EQ(manager.GetLastError(), "output not available");
    }
    OutLog log;
    log.refuseOpen = true;
    ASSERT_TRUE(manager.InstallOutput(omAsio, std::make_unique<FakeOut>(log)));
    EXPECT_FALSE(manager.Open());
    EXPECT_FALSE(manager.GetLastError().empty());

    // Nothing is open, so nothing else does anything.
    const std::int16_t frame[2] = {};
    EXPECT_FALSE(manager.IsOpen());
    EXPECT_FALSE(manager.Write(frame, 1));
    EXPECT_FALSE(manager.Flush());
    EXPECT_FALSE(manager.Close());
    EXPECT_EQ(manager.Pause(), 0);
    EXPECT_EQ(manager.Restart(), 0);
    EXPECT_EQ(manager.Reset(), 0);

    // A buffer too short for one frame would never fill a block.
    ASSERT_TRUE(manager.SetOutputMode(omDisk));
    TempDir dir;
    ASSERT_TRUE(manager.SetFileName(dir.File("a.wav")));
    ASSERT_TRUE(manager.SetBuffers(0, 1));
    EXPECT_FALSE(manager.Open());
    EXPECT_FALSE(manager.IsOpen());
}

// Pass-through hands the disc's bytes on untouched, labelled as AC3 over S/PDIF, and no
// stage sees them.
TEST_F(ManagerWithFakeOut, PassThroughCopiesTheBytes)
{
    struct Untouchable : TChunkStage {
        bool Init(TWaveDataType, int) override { return true; }
        void Process(void* const*, std::size_t) override { ADD_FAILURE() << "stage ran in pass-through"; }
    } stage;
    ASSERT_TRUE(manager_.SetVolumeChanger(&stage));
    ASSERT_TRUE(manager_.SetAc3Params(true, true));
    ASSERT_TRUE(manager_.SetOutputFormat(wdFloat32, 44100, false));
    ASSERT_TRUE(manager_.Open());
    EXPECT_EQ(log_.type, wdAc3Spdif);
    EXPECT_EQ(log_.rate, 48000);
    EXPECT_EQ(log_.channels, 2);
    EXPECT_EQ(log_.mask, 0u);
    ASSERT_EQ(manager_.GetBlockFrames(), 480u);

    ASSERT_TRUE(manager_.Write(input_.data(), 300));
    ASSERT_TRUE(manager_.Write(input_.data() + 2 * 300, 700));
    EXPECT_EQ(log_.writes.size(), 2u);
    ASSERT_TRUE(manager_.Flush());
    ASSERT_EQ(log_.writes.size(), 3u);
    EXPECT_EQ(log_.writes[2].size(), 40u * 4);
    EXPECT_EQ(Joined(log_.writes), Frames(0, 1000));
}

// ASIO gets the internal type whatever the output type says, a channel map for the shift,
// its own settings, planar blocks, and one empty write to drain before Close; DirectSound
// is drained with empty writes until it refuses one.
TEST(OutputManager, AsioAndDirectSoundSetUpAndDrain)
{
    OutLog asioLog;
    OutLog dsLog;
    TOutputManager manager;
    ASSERT_TRUE(manager.InstallOutput(omAsio, std::make_unique<FakeOut>(asioLog)));
    ASSERT_TRUE(manager.InstallOutput(omDirectSound, std::make_unique<FakeOut>(dsLog)));
    ASSERT_TRUE(manager.SetOutputMode(omAsio));
    ASSERT_TRUE(manager.SetAsioParams(7, 3, 2, true));
    ASSERT_TRUE(manager.SetOutputFormat(wdFloat64, 44100, false));
    ASSERT_TRUE(manager.SetBuffers(10, 2));
    ASSERT_TRUE(manager.Open());
    EXPECT_EQ(asioLog.type, wdInt24In32);
    EXPECT_EQ(asioLog.mask, 3u);
    EXPECT_EQ(asioLog.channelMap, (std::vector<int>{-1, -1, -1, 0, 1}));
    EXPECT_EQ(asioLog.asioStep, 7);
    EXPECT_TRUE(asioLog.asioMonitor);
    EXPECT_EQ(asioLog.asioPriority, 2);

    const auto input = RandomInput(450, 9);
    ASSERT_TRUE(manager.Write(input.data(), 450));
    ASSERT_EQ(asioLog.planarLeft.size(), 1u);
    std::vector<std::int32_t> left;
    for (std::size_t i = 0; i < 441; ++i)
        left.push_back(input[2 * i] * 256);
    EXPECT_EQ(asioLog.planarLeft[0], Bytes(left.data(), left.size() * 4));
    EXPECT_TRUE(asioLog.writes.empty());
    ASSERT_TRUE(manager.Close());
    ASSERT_EQ(asioLog.writes.size(), 1u);
    EXPECT_TRUE(asioLog.writes[0].empty());

    dsLog.zeroWritesAccepted = 2;
    ASSERT_TRUE(manager.SetOutputMode(omDirectSound));
    ASSERT_TRUE(manager.Open());
    EXPECT_TRUE(dsLog.channelMap.empty());
    ASSERT_TRUE(manager.Close());
    EXPECT_EQ(dsLog.writes, std::vector<std::string>(3)) << "two accepted empty writes, then the refused one";
}

// ---- Stages ----

struct StageLog {
    std::vector<std::string> calls;
};

// A per-chunk stage on 16-bit samples: records what it saw and adds addLeft to the left
// channel.
struct FakeChunkStage : TChunkStage {
    FakeChunkStage(StageLog& log, std::string name, int addLeft = 0) : log(log), name(std::move(name)), addLeft(addLeft)
    {
    }
    bool Init(TWaveDataType type, int rate) override
    {
        log.calls.push_back("init " + name + " " + std::to_string(type) + " " + std::to_string(rate));
        return true;
    }
    void Process(void* const* channels, std::size_t frames) override
    {
        log.calls.push_back(name + " " + std::to_string(frames));
        auto* left = static_cast<std::int16_t*>(channels[0]);
        seenLeft.insert(seenLeft.end(), left, left + frames);
        for (std::size_t i = 0; i < frames; ++i)
            left[i] = static_cast<std::int16_t>(left[i] + addLeft);
    }
    StageLog& log;
    std::string name;
    int addLeft;
    std::vector<std::int16_t> seenLeft;
};

// Plays at half speed by repeating every frame.
struct FakeSpeedStage : TSpeedStage {
    explicit FakeSpeedStage(StageLog& log) : log(log) {}
    bool Init(TWaveDataType type, int rate) override
    {
        log.calls.push_back("init speed " + std::to_string(type) + " " + std::to_string(rate));
        return true;
    }
    std::size_t Process(const void* const* in, std::size_t frames, void* const* out) override
    {
        log.calls.push_back("speed " + std::to_string(frames));
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < frames; ++i) {
                const auto s = static_cast<const std::int16_t*>(in[c])[i];
                static_cast<std::int16_t*>(out[c])[2 * i] = s;
                static_cast<std::int16_t*>(out[c])[2 * i + 1] = s;
            }
        return 2 * frames;
    }
    StageLog& log;
};

// A per-block stage: records the frames and the right channel it saw, adds addRight to it.
struct FakeBlockStage : TBlockStage {
    FakeBlockStage(StageLog& log, std::string name, int addRight) : log(log), name(std::move(name)), addRight(addRight)
    {
    }
    bool Init(TWaveDataType type, int rate) override
    {
        log.calls.push_back("init " + name + " " + std::to_string(type) + " " + std::to_string(rate));
        return true;
    }
    void Process(void* const* channels, std::size_t frames) override
    {
        log.calls.push_back(name + " " + std::to_string(frames));
        auto* right = static_cast<std::int16_t*>(channels[1]);
        seenRight.insert(seenRight.end(), right, right + frames);
        for (std::size_t i = 0; i < frames; ++i)
            right[i] = static_cast<std::int16_t>(right[i] + addRight);
    }
    void Reset() override { log.calls.push_back("reset " + name); }
    StageLog& log;
    std::string name;
    int addRight;
    std::vector<std::int16_t> seenRight;
};

TEST_F(ManagerWithFakeOut, StagesSeeTheirFramesInOrder)
{
    StageLog log;
    FakeChunkStage deEmphasis(log, "deemph");
    FakeChunkStage volume(log, "volume", 1);
    FakeChunkStage stereo(log, "stereo");
    FakeSpeedStage speed(log);
    FakeBlockStage equalizer(log, "eq", 10);
    FakeBlockStage compresser(log, "norm", 0);
    ASSERT_TRUE(manager_.SetDeEmphsizer(&deEmphasis));
    ASSERT_TRUE(manager_.SetVolumeChanger(&volume));
    ASSERT_TRUE(manager_.SetStereoChanger(&stereo));
    ASSERT_TRUE(manager_.SetSpeedChanger(&speed));
    ASSERT_TRUE(manager_.SetEqualizer(&equalizer));
    ASSERT_TRUE(manager_.SetCompresser(&compresser));
    ASSERT_TRUE(manager_.SetInternalFormat(wdInt16));
    ASSERT_TRUE(manager_.SetInputFormat(wdInt16, 32000));
    ASSERT_TRUE(manager_.Open());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"init deemph 1 32000", "init stereo 1 32000", "init volume 1 32000",
                                                   "init speed 1 32000", "init norm 1 32000", "init eq 1 32000"}));

    // 550 frames become 1100 at half speed: two blocks of 441, 218 left for Flush.
    log.calls.clear();
    ASSERT_TRUE(manager_.Write(input_.data(), 300));
    ASSERT_TRUE(manager_.Write(input_.data() + 2 * 300, 250));
    ASSERT_TRUE(manager_.Flush());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"deemph 300", "volume 300", "stereo 300", "speed 300", "eq 441",
                                                   "norm 441", "deemph 250", "volume 250", "stereo 250", "speed 250",
                                                   "eq 441", "norm 441", "eq 218", "norm 218"}));

    std::vector<std::int16_t> left;
    std::vector<std::int16_t> expected;
    std::vector<std::int16_t> expectedRight;
    for (std::size_t i = 0; i < 550; ++i) {
        left.push_back(input_[2 * i]);
        for (int copy = 0; copy < 2; ++copy) {
            expectedRight.push_back(input_[2 * i + 1]);
            expected.push_back(static_cast<std::int16_t>(input_[2 * i] + 1));
            expected.push_back(static_cast<std::int16_t>(input_[2 * i + 1] + 10));
        }
    }
    EXPECT_EQ(deEmphasis.seenLeft, left);
    EXPECT_EQ(stereo.seenLeft.front(), static_cast<std::int16_t>(left.front() + 1)) << "volume runs before stereo";
    EXPECT_EQ(equalizer.seenRight, expectedRight);
    EXPECT_EQ(compresser.seenRight.front(), static_cast<std::int16_t>(expectedRight.front() + 10))
        << "the equalizer runs before the normalizer";
    EXPECT_EQ(Joined(log_.writes), Bytes(expected.data(), expected.size() * 2));

    log.calls.clear();
    EXPECT_EQ(manager_.Reset(), 1);
    EXPECT_EQ(log.calls, std::vector<std::string>{"reset eq"});
}

} // namespace
} // namespace vantrel
