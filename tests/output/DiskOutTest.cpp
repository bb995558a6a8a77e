#include "output/DiskOut.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "output/WavFile.h"

namespace vantrel {
namespace {

using testing::Hex;
using testing::Le32;
using testing::TempDir;

// Distinct bytes, so misplaced or lost data shows.
std::string Pattern(std::size_t bytes)
{
    std::string data;
    for (std::size_t i = 0; i < bytes; ++i)
        data += static_cast<char>(i * 7 + 1);
    return data;
}

struct HeaderCase {
    const char* name;
    TWaveDataType type;
    bool extensible;
    int frames;
    const char* header; // with the sizes Close writes
    const char* soxiEncoding;
    const char* soxiBits;
};

void PrintTo(const HeaderCase& c, std::ostream* os)
{
    *os << c.name;
}

// Every header below is written out by hand from the RIFF/WAVE layout, 2 channels at 44100 Hz
// (44 AC 00 00); 0 frames gives the sizes of an empty file.
const HeaderCase kHeaders[] = {
    {"Pcm16", wdInt16, false, 4,
     "52494646 34000000 57415645 666D7420 10000000 0100 0200 44AC0000 10B10200 0400 1000"
     "64617461 10000000",
     "Signed Integer PCM", "16"},
    {"Pcm24PackedEmpty", wdInt24, false, 0,
     "52494646 24000000 57415645 666D7420 10000000 0100 0200 44AC0000 98090400 0600 1800"
     "64617461 00000000",
     "Signed Integer PCM", "24"},
    {"Float32Empty", wdFloat32, false, 0,
     "52494646 26000000 57415645 666D7420 12000000 0300 0200 44AC0000 20620500 0800 2000 0000"
     "64617461 00000000",
     "Floating Point PCM", "32"},
    {"Float64", wdFloat64, false, 4,
     "52494646 66000000 57415645 666D7420 12000000 0300 0200 44AC0000 40C40A00 1000 4000 0000"
     "64617461 40000000",
     "Floating Point PCM", "64"},
    {"ExtensiblePcm24", wdInt24, true, 4,
     "52494646 54000000 57415645 666D7420 28000000 FEFF 0200 44AC0000 98090400 0600 1800"
     "1600 1800 03000000 01000000 0000 1000 800000AA00389B71 64617461 18000000",
     "Signed Integer PCM", "24"},
    {"ExtensibleFloat32Empty", wdFloat32, true, 0,
     "52494646 3C000000 57415645 666D7420 28000000 FEFF 0200 44AC0000 20620500 0800 2000"
     "1600 2000 03000000 03000000 0000 1000 800000AA00389B71 64617461 00000000",
     "Floating Point PCM", "32"},
};

class DiskOutHeader : public ::testing::TestWithParam<HeaderCase> {
protected:
    // Writes the case's frames through a TDiskOut and returns the file.
    std::string WriteFile(const HeaderCase& c)
    {
        const std::string file = dir_.File(std::string(c.name) + ".wav");
        TDiskOut out;
        EXPECT_TRUE(out.SetFormatEx(c.type, c.extensible, 44100, 2, 3));
        EXPECT_TRUE(out.SetDevice(file));
        EXPECT_TRUE(out.Open());
        if (c.frames > 0) {
            EXPECT_TRUE(out.Write(data_.data(), data_.size()));
        }
        EXPECT_TRUE(out.Close());
        EXPECT_TRUE(out.GetLastError().empty());
        return file;
    }

    void SetUp() override
    {
        data_ = Pattern(static_cast<std::size_t>(GetParam().frames) * 2 * GetDataBytes(GetParam().type));
    }

    TempDir dir_;
    std::string data_;
};

TEST_P(DiskOutHeader, MatchesTheHandWrittenBytes)
{
    const HeaderCase& c = GetParam();
    const std::string bytes = TempDir::Read(WriteFile(c));
    const std::string header = Hex(c.header);
    ASSERT_EQ(bytes.size(), header.size() + data_.size());
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    EXPECT_EQ(bytes.substr(header.size()), data_);
}

TEST_P(DiskOutHeader, ReadsBackWithSoxi)
{
    if (!testing::HaveSoxi())
        GTEST_SKIP() << "soxi is not installed (package sox)";
    const HeaderCase& c = GetParam();
    const std::string file = WriteFile(c);
    EXPECT_EQ(testing::Soxi('c', file), "2");
    EXPECT_EQ(testing::Soxi('r', file), "44100");
    EXPECT_EQ(testing::Soxi('b', file), c.soxiBits);
    EXPECT_EQ(testing::Soxi('e', file), c.soxiEncoding);
    EXPECT_EQ(testing::Soxi('s', file), std::to_string(c.frames));
}

INSTANTIATE_TEST_SUITE_P(Forms, DiskOutHeader, ::testing::ValuesIn(kHeaders),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiskOut, BufferSizeFollowsFormatAndLength)
{
    TDiskOut out;
    EXPECT_EQ(out.GetBufferFrames(), 44100u); // 1000 ms
    EXPECT_EQ(out.GetBufferBytes(), 176400u);
    ASSERT_TRUE(out.SetBuffer(500, 7));
    EXPECT_EQ(out.GetBufferFrames(), 22050u);
    EXPECT_EQ(out.GetBufferBytes(), 88200u);
    ASSERT_TRUE(out.SetFormatEx(wdFloat64, false, 48000, 2, 3));
    EXPECT_EQ(out.GetBufferFrames(), 24000u);
    EXPECT_EQ(out.GetBufferBytes(), 24000u * 16);
    ASSERT_TRUE(out.SetFormat(1, 8, 11025));
    ASSERT_TRUE(out.SetBuffer(333, 1));
    EXPECT_EQ(out.GetBufferFrames(), 3671u); // 11025 * 333 / 1000, rounded down
    EXPECT_EQ(out.GetBufferBytes(), 3671u);
}

// While a file is open the settings that shape it are refused; SetFormatEx is taken but
// the file keeps the header form it was created with, so Close patches the right offsets.
TEST(DiskOut, OpenFileKeepsItsSettings)
{
    TempDir dir;
    const std::string file = dir.File("a.wav");
    TDiskOut out;
    ASSERT_TRUE(out.SetDevice(file));
    ASSERT_TRUE(out.Open());
    EXPECT_FALSE(out.Open());
    EXPECT_FALSE(out.SetDevice(dir.File("b.wav")));
    EXPECT_FALSE(out.SetFormat(1, 8, 8000));
    EXPECT_FALSE(out.SetBuffer(10, 1));
    EXPECT_EQ(out.GetBufferFrames(), 44100u);
    EXPECT_TRUE(out.SetFormatEx(wdFloat32, true, 44100, 2, 3));
    const std::string data = Pattern(400);
    EXPECT_TRUE(out.Write(data.data(), data.size()));
    EXPECT_TRUE(out.Close());

    EXPECT_FALSE(std::filesystem::exists(dir.File("b.wav")));
    const std::string bytes = TempDir::Read(file);
    ASSERT_EQ(bytes.size(), 444u);
    EXPECT_EQ(Le32(bytes, 4), 436u);
    EXPECT_EQ(Le32(bytes, 16), 16u);
    EXPECT_EQ(Le32(bytes, 40), 400u);
    EXPECT_EQ(bytes.substr(44), data);
}

TEST(DiskOut, WithoutAFileNothingIsWritten)
{
    TempDir dir;
    TDiskOut out;
    const char byte = 0;
    EXPECT_FALSE(out.Write(&byte, 1));
    EXPECT_FALSE(out.Close());
    EXPECT_FALSE(out.SetDevice(3));

    ASSERT_TRUE(out.SetDevice(dir.File("missing/folder/x.wav")));
    EXPECT_FALSE(out.Open());
    EXPECT_FALSE(out.IsOpen());
    EXPECT_NE(out.GetLastError().find("missing/folder/x.wav"), std::string::npos) << out.GetLastError();
    EXPECT_FALSE(out.Write(&byte, 1));
}

// Destroying the output with a file open completes the header.
TEST(DiskOut, DestructorCompletesTheFile)
{
    TempDir dir;
    const std::string file = dir.File("a.wav");
    const std::string data = Pattern(64);
    {
        TDiskOut out;
        ASSERT_TRUE(out.SetDevice(file));
        ASSERT_TRUE(out.Open());
        ASSERT_TRUE(out.Write(data.data(), data.size()));
    }
    const std::string bytes = TempDir::Read(file);
    ASSERT_EQ(bytes.size(), 108u);
    EXPECT_EQ(Le32(bytes, 4), 100u);
    EXPECT_EQ(Le32(bytes, 40), 64u);
}

} // namespace
} // namespace vantrel
