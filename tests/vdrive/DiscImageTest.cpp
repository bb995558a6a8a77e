#include <gtest/gtest.h>

#include <filesystem>

#include "common/TempDir.h"
#include "vdrive/CloneCd.h"
#include "vdrive/CueSheet.h"
#include "vdrive/codec/CdTextPacks.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/codec/CdgPack.h"
#include "vdrive/codec/SubLayout.h"
#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive {
namespace {

constexpr const char* kDescription = R"(# hidden audio, a pre-emphasised track with index 2, a data session
disc sub=raw title="Demo" performer="Vantrel" hidden=00:03:00
track length=00:10:00 title="One" performer="Singer" cdg=1
track length=00:05:00 pregap=00:02:00 pre=1 dcp=1 index=00:01:00 audio=tone:440 title="Two"
track length=00:04:00 data=1 session=2
)";

class DiscImageTest : public ::testing::Test {
protected:
    Disc Make(std::string description, const std::string& format = "cue")
    {
        description.replace(description.find("disc "), 5, "disc format=" + format + " ");
        DiscPlan plan;
        std::string error, image;
        EXPECT_TRUE(ParseDiscPlan(description, plan, error)) << error;
        EXPECT_TRUE(MakeDisc(plan, dir.Path().string(), image, error)) << error;
        Disc disc;
        EXPECT_TRUE(ReadDiscImage(image, disc, error)) << error;
        return disc;
    }

    testing::TempDir dir;
};

// The same checks for both image formats.
class BothFormats : public DiscImageTest, public ::testing::WithParamInterface<const char*> {};
INSTANTIATE_TEST_SUITE_P(Images, BothFormats, ::testing::Values("cue", "ccd"));

TEST_P(BothFormats, WrittenImageReadsBackToTheSameLayout)
{
    const Disc disc = Make(kDescription, GetParam());
    ASSERT_EQ(disc.tracks.size(), 3u);
    struct Expected {
        int number, session;
        std::int64_t pregapStart, start, end;
        std::uint8_t control;
    };
    // Track 1: 3 s hidden (225 sectors) from sector 0, then 10 s. Track 2: 2 s pre-gap, 5 s.
    // Session 2: 11250 gap sectors, then the 150-sector pre-gap of the data track, 4 s.
    const Expected expected[] = {
        {1, 1, 0, 225, 975, 0},
        {2, 1, 975, 1125, 1500, 0x03},
        {3, 2, 1500 + 11250, 1500 + 11400, 1500 + 11400 + 300, 0x04},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const Track& t = disc.tracks[i];
        EXPECT_EQ(t.number, expected[i].number);
        EXPECT_EQ(t.session, expected[i].session);
        EXPECT_EQ(t.pregapStart, expected[i].pregapStart) << i;
        EXPECT_EQ(t.start, expected[i].start) << i;
        EXPECT_EQ(t.end, expected[i].end) << i;
        EXPECT_EQ(t.Control(), expected[i].control) << i;
    }
    EXPECT_EQ(disc.tracks[1].moreIndexes, std::vector<std::int64_t>{1125 + 75});
    ASSERT_EQ(disc.sessions.size(), 2u);
    EXPECT_EQ(disc.sessions[0].leadOut, 1500);
    EXPECT_EQ(disc.sessions[1].firstTrack, 3);
    EXPECT_EQ(disc.LeadOut(), 1500 + 11400 + 300);
    if (std::string(GetParam()) == "cue") {  // the sheet carries the texts themselves
        EXPECT_EQ(disc.albumText.title, "Demo");
        EXPECT_EQ(disc.albumText.performer, "Vantrel");
        EXPECT_EQ(disc.tracks[0].text.performer, "Singer");
        EXPECT_EQ(disc.tracks[1].text.title, "Two");
    } else {  // the control file carries the packs; their texts are checked with the packs
        ASSERT_EQ(disc.cdTextPacks.size() % 18, 0u);
        ASSERT_FALSE(disc.cdTextPacks.empty());
        for (std::size_t p = 0; p < disc.cdTextPacks.size(); p += 18)
            EXPECT_TRUE(CheckCdTextCrc(disc.cdTextPacks.data() + p));
        const std::string bytes(disc.cdTextPacks.begin(), disc.cdTextPacks.end());
        EXPECT_NE(bytes.find("Demo"), std::string::npos);
        EXPECT_EQ(disc.cdTextPacks[0], 0x80);
    }
    EXPECT_EQ(disc.subLayout, SubLayout::RawPW);
}

TEST_P(BothFormats, SamplesNameTheirOwnPosition)
{
    const Disc disc = Make(kDescription, GetParam());
    std::uint8_t sector[kSectorBytes];
    for (const std::int64_t lba : {0LL, 224LL, 225LL, 974LL}) {  // hidden audio and track 1
        ASSERT_TRUE(disc.ReadSector(lba, sector));
        for (int i : {0, 1, 587}) {
            const auto left = static_cast<std::int16_t>(sector[4 * i] | sector[4 * i + 1] << 8);
            const auto right = static_cast<std::int16_t>(sector[4 * i + 2] | sector[4 * i + 3] << 8);
            EXPECT_EQ(CounterPosition(left, right), (lba + 150) * 588 + i) << lba;
        }
    }
    ASSERT_TRUE(disc.ReadSector(975, sector));  // track 2's pre-gap: silence
    EXPECT_TRUE(std::all_of(sector, sector + kSectorBytes, [](std::uint8_t b) { return b == 0; }));
    ASSERT_TRUE(disc.ReadSector(5000, sector));  // between the sessions: not stored, silence
    EXPECT_TRUE(std::all_of(sector, sector + kSectorBytes, [](std::uint8_t b) { return b == 0; }));
    ASSERT_TRUE(disc.ReadSector(12900, sector));  // data track: sync and BCD header 02:54:00, mode 1
    EXPECT_EQ(sector[0], 0x00);
    EXPECT_EQ(sector[1], 0xFF);
    EXPECT_EQ(sector[11], 0x00);
    EXPECT_EQ(sector[12], 0x02);
    EXPECT_EQ(sector[13], 0x54);
    EXPECT_EQ(sector[14], 0x00);
    EXPECT_EQ(sector[15], 0x01);
}

TEST_P(BothFormats, SubChannelQFollowsTheTableInBothLayouts)
{
    for (const char* layout : {"raw", "channels"}) {
        std::string description = kDescription;
        description.replace(description.find("sub=raw"), 7, std::string("sub=") + layout);
        const Disc disc = Make(description, GetParam());
        EXPECT_EQ(disc.subLayout, std::string(layout) == "raw" ? SubLayout::RawPW : SubLayout::Channels);
        struct Case {
            std::int64_t lba;
            std::uint8_t track, index;
            std::int64_t relative;
        };
        const Case cases[] = {
            {0, 1, 0, -225},  {224, 1, 0, -1},  {225, 1, 1, 0},       {975, 2, 0, -150},
            {1124, 2, 0, -1}, {1125, 2, 1, 0},  {1200, 2, 2, 75},     {1499, 2, 2, 374},
            {12750, 3, 0, -150}, {12900, 3, 1, 0},
        };
        for (const Case& c : cases) {
            std::uint8_t raw[kSubBytes], q[kQFrameBytes];
            ASSERT_TRUE(disc.ReadSubchannel(c.lba, raw));
            ExtractQ(raw, q);
            QPosition position;
            ASSERT_TRUE(DecodeQ(q, position)) << layout << " sector " << c.lba;
            EXPECT_EQ(position.track, c.track) << c.lba;
            EXPECT_EQ(position.index, c.index) << c.lba;
            EXPECT_EQ(position.relativeFrames, c.relative) << c.lba;
            EXPECT_EQ(position.absoluteFrames, c.lba + 150) << c.lba;
            EXPECT_EQ((raw[0] & 0x80) != 0, c.index == 0) << "P flag in the pre-gap, sector " << c.lba;
        }
    }
}

TEST_P(BothFormats, CdgPacksComeBackAfterDeinterleavingWithValidParity)
{
    const Disc disc = Make(kDescription, GetParam());
    CdgDeinterleaver deinterleaver;
    std::vector<CdgPack> packs;
    for (std::int64_t lba = 0; lba < 240; ++lba) {
        std::uint8_t raw[kSubBytes], rw[kSubBytes];
        ASSERT_TRUE(disc.ReadSubchannel(lba, raw));
        GetRw(raw, rw);
        deinterleaver.Deinterleave(rw, 4);
        for (int p = 0; p < 4; ++p) {
            CdgPack pack;
            std::copy(rw + p * 24, rw + p * 24 + 24, pack.begin());
            packs.push_back(pack);
        }
    }
    // Track 1 starts at sector 225: packs 900.. are its graphics, 7 packs later after the delay.
    const std::size_t first = 225 * 4 + CdgInterleaver::kDelayPacks;
    const int instructions[] = {CdgPacks::kLoadClutLow, 0, CdgPacks::kLoadClutHigh, 0, CdgPacks::kMemoryPreset, 0,
                                CdgPacks::kBorderPreset, 0};
    for (std::size_t k = 0; k < std::size(instructions); ++k) {
        const CdgPack& pack = packs[first + k];
        EXPECT_EQ(pack[0], instructions[k] ? CdgPacks::kGraphicsCommand : 0) << k;
        EXPECT_EQ(pack[1], instructions[k]) << k;
        CdgPack again = pack;
        EncodeCdgParity(again.data());
        EXPECT_EQ(again, pack) << "parity already right, pack " << k;
    }
    for (std::size_t k = 0; k < first; ++k)
        EXPECT_EQ(packs[k], CdgPacks::Empty()) << "nothing before the graphics, pack " << k;
}

TEST_F(DiscImageTest, BrokenSheetsAndFilesAreRefusedWithTheirPlace)
{
    dir.Write("a.bin", std::string(kSectorBytes * 10, '\0'));
    dir.Write("odd.bin", std::string(kSectorBytes * 2 + 5, '\0'));
    struct Case {
        std::string sheet;
        std::string message;  // the error must contain this
    };
    const Case cases[] = {
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nBOGUS 1\n", "t.cue:4: unknown command 'BOGUS'"},
        {"TRACK 01 AUDIO\n", "t.cue:1: TRACK before any FILE"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n", "t.cue:3: INDEX needs a number and mm:ss:ff"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:11\n", "t.cue:3: INDEX lies beyond the end of the file"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:05\nTRACK 02 AUDIO\nINDEX 01 00:00:02\n",
         "t.cue:5: INDEX goes backwards"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n", "t.cue:2: track 1 has no INDEX 01"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nTRACK 02 AUDIO\n", "t.cue:2: track 1 has no INDEX 01"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\n", "t.cue:4: track numbers must"},
        {"FILE \"a.wav\" WAVE\n", "t.cue:1: file type WAVE is not supported"},
        {"FILE \"missing.bin\" BINARY\n", "t.cue:1: cannot open"},
        {"FILE \"odd.bin\" BINARY\n", "is not a whole number of 2352-byte sectors"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 MODE2/2336\n", "t.cue:2: track mode MODE2/2336 is not supported"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:10\n",
         "track 2 holds no sectors"},
        {"", "no tracks"},
        {"FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nFLAGS XYZ\n", "t.cue:3: unknown flag"},
        {std::string("FILE \"a.bin\" BINARY\n\0", 21), "t.cue:2: NUL byte"},
    };
    for (const Case& c : cases) {
        Disc disc;
        std::string error;
        EXPECT_FALSE(ReadCueText(c.sheet, "t.cue", dir.Path().string(), disc, error)) << c.sheet;
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error;
        EXPECT_TRUE(disc.tracks.empty());
    }
}

TEST_F(DiscImageTest, SubFileOfTheWrongSizeIsRefused)
{
    DiscPlan plan;
    std::string error, image;
    ASSERT_TRUE(ParseDiscPlan("disc sub=raw\ntrack length=00:01:00\n", plan, error));
    ASSERT_TRUE(MakeDisc(plan, dir.Path().string(), image, error));
    std::filesystem::resize_file(dir.File("disc.sub"), 96 * 74);
    Disc disc;
    EXPECT_FALSE(ReadCueSheet(image, disc, error));
    EXPECT_NE(error.find("disc.sub: size 7104 does not match 75 sectors of 96 bytes"), std::string::npos) << error;
}

TEST_F(DiscImageTest, BrokenCloneCdFilesAreRefused)
{
    DiscPlan plan;
    std::string error, image;
    ASSERT_TRUE(ParseDiscPlan("disc format=ccd sub=channels\ntrack length=00:01:00\ntrack length=00:01:00\n", plan,
                              error));
    ASSERT_TRUE(MakeDisc(plan, dir.Path().string(), image, error)) << error;
    const std::string good = testing::TempDir::Read(image);
    const std::string base = dir.File("disc");
    struct Case {
        std::string text;
        const char* message;
    };
    auto without = [&](const std::string& line) {
        std::string text = good;
        text.erase(text.find(line), line.size());
        return text;
    };
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const Case cases[] = {
        {"", "not a CloneCD control file"},
        {without("TocEntries=5\r\n"), "[Disc] TocEntries: missing or out of range"},
        {replaced("TocEntries=5", "TocEntries=9"), "[Entry 5]: section missing"},
        {replaced("PLBA=75", "PLBA=zz"), "a field is missing or out of range"},
        {replaced("Point=0x02", "Point=0x03"), "track numbers are not consecutive"},
        {replaced("PLBA=75", "PLBA=0"), "track 1 overlaps or holds no sectors"},
        {replaced("PLBA=150", "PLBA=100000"), "is smaller than the 100000 sectors"},
    };
    for (const Case& c : cases) {
        Disc disc;
        EXPECT_FALSE(ReadCloneCdText(c.text, "d.ccd", base, disc, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << "got: " << error;
    }
    Disc disc;
    std::filesystem::resize_file(base + ".img", 2352 * 100);
    EXPECT_FALSE(ReadCloneCdText(good, "d.ccd", base, disc, error));
    EXPECT_NE(error.find("is smaller than the 150 sectors"), std::string::npos) << error;
    std::filesystem::resize_file(base + ".img", 2352 * 150);
    std::filesystem::resize_file(base + ".sub", 96 * 10);
    EXPECT_FALSE(ReadCloneCdText(good, "d.ccd", base, disc, error));
    EXPECT_NE(error.find("does not match 150 sectors"), std::string::npos) << error;
    std::filesystem::remove(base + ".sub");
    EXPECT_TRUE(ReadCloneCdText(good, "d.ccd", base, disc, error)) << error;
    EXPECT_FALSE(disc.HasSubFile());
}

TEST(DiscPlan, DescriptionsAreCheckedLineByLine)
{
    const std::pair<const char*, const char*> cases[] = {
        {"track pregap=00:02:00\n", "line 1: a track needs length"},
        {"track length=00:61:00\n", "line 1: bad track setting length=00:61:00"},
        {"track length=00:01:00\nfoo\n", "line 2: unknown statement 'foo'"},
        {"track length=00:01:00 session=2\n", "line 1: the first track is in session 1"},
        {"track length=00:01:00\ndisc sub=raw\n", "line 2: 'disc' must come once"},
        {"disc sub=maybe\n", "line 1: bad disc setting sub=maybe"},
        {"track length=00:01:00 index=00:02:00\n", "index lies beyond"},
        {"track length=00:01:00 title=\"open\n", "unclosed quote"},
        {"# nothing\n", "no tracks"},
    };
    for (const auto& [text, message] : cases) {
        DiscPlan plan;
        std::string error;
        EXPECT_FALSE(ParseDiscPlan(text, plan, error)) << text;
        EXPECT_NE(error.find(message), std::string::npos) << "got: " << error;
    }
}

TEST(CounterSamples, RoundTripAndRejectOtherAudio)
{
    for (const std::int64_t n : {0LL, 1LL, 65535LL, 65536LL, 74LL * 60 * 44100, (1LL << 31) - 1}) {
        std::int16_t left, right;
        CounterSample(n, left, right);
        EXPECT_EQ(CounterPosition(left, right), n);
    }
    EXPECT_EQ(CounterPosition(0, 0), -1);
    EXPECT_EQ(CounterPosition(1000, 1000), -1);
}

}  // namespace
}  // namespace vantrel::vdrive
