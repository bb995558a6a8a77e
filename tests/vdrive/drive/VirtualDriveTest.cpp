#include "vdrive/drive/VirtualDrive.h"

#include <cstring>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "TestDisc.h"
#include "vdrive/codec/CdTextPacks.h"
#include "vdrive/codec/SubLayout.h"

namespace vantrel::vdrive::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr Sense kNotPresent{2, 0x3A, 0}, kBadOpcode{5, 0x20, 0}, kOutOfRange{5, 0x21, 0}, kBadField{5, 0x24, 0},
    kBadParameter{5, 0x26, 0}, kWrongMode{5, 0x64, 0};

DriveOptions Options(const char* text)
{
    DriveOptions options;
    std::string error;
    EXPECT_TRUE(ParseDriveOptions(text, options, error)) << error;
    return options;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t n)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

class DriveTest : public ::testing::Test {
protected:
    void Load(const char* options, std::shared_ptr<const Disc> disc = ThreeTracks())
    {
        drive = std::make_unique<VirtualDrive>(Options(options));
        drive->Insert(std::move(disc));
    }
    Answer Run(Bytes cdb, std::size_t length) { return In(*drive, std::move(cdb), length); }

    std::unique_ptr<VirtualDrive> drive = std::make_unique<VirtualDrive>();
};

// ---- identity and table of contents ----

TEST_F(DriveTest, InquiryCarriesThePersonality)
{
    Load("vendor=ACME,product=CD-ROM XL-1,revision=1.02,ansi=0");
    const Answer a = Run({0x12, 0, 0, 0, 0x64, 0}, 100);
    ASSERT_TRUE(a.Good());
    EXPECT_EQ(a.data, Concat({{0x05, 0x80, 0x00, 0x21, 0x1F, 0, 0, 0}, Text("ACME    CD-ROM XL-1     1.02")}));

    VirtualDrive scsi(Options("ansi=2"));
    EXPECT_EQ(In(scsi, {0x12, 0, 0, 0, 5, 0}, 100).data, (Bytes{0x05, 0x80, 0x02, 0x02, 0x1F})); // no disc needed
    EXPECT_EQ(In(scsi, {0x12, 1, 0x80, 0, 0x64, 0}, 100).result.sense, kBadField);               // vital product data
}

TEST_F(DriveTest, TocInMsfAndLbaForm)
{
    Load("");
    const Bytes header{0x00, 0x22, 0x01, 0x03};
    EXPECT_EQ(Run({0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, 804).data,
              Concat({header,
                      {0, 0x12, 0x01, 0, 0, 0x00, 0x02, 0x00},
                      {0, 0x11, 0x02, 0, 0, 0x00, 0x07, 0x00},
                      {0, 0x10, 0x03, 0, 0, 0x00, 0x0A, 0x00},
                      {0, 0x10, 0xAA, 0, 0, 0x00, 0x0E, 0x00}}));
    EXPECT_EQ(Run({0x43, 0x00, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, 804).data,
              Concat({header,
                      {0, 0x12, 0x01, 0, 0, 0, 0x00, 0x00},
                      {0, 0x11, 0x02, 0, 0, 0, 0x01, 0x77},
                      {0, 0x10, 0x03, 0, 0, 0, 0x02, 0x58},
                      {0, 0x10, 0xAA, 0, 0, 0, 0x03, 0x84}}));
}

TEST_F(DriveTest, TocFromAGivenTrack)
{
    Load("");
    const struct {
        std::uint8_t from;
        Bytes expected;
    } cases[] = {
        {3, {0x00, 0x12, 0x01, 0x03, 0, 0x10, 0x03, 0, 0, 0, 0x02, 0x58, 0, 0x10, 0xAA, 0, 0, 0, 0x03, 0x84}},
        {0xAA, {0x00, 0x0A, 0x01, 0x03, 0, 0x10, 0xAA, 0, 0, 0, 0x03, 0x84}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Run({0x43, 0, 0, 0, 0, 0, c.from, 0x03, 0x24, 0}, 804).data, c.expected) << int(c.from);
    EXPECT_EQ(Run({0x43, 0, 0, 0, 0, 0, 4, 0x03, 0x24, 0}, 804).result.sense, kBadField);
    // The allocation length cuts the answer, the header still tells the whole length.
    EXPECT_EQ(Run({0x43, 0, 0, 0, 0, 0, 0, 0, 4, 0}, 804).data, (Bytes{0x00, 0x22, 0x01, 0x03}));
}

const Bytes kOldFullToc{0x43, 0, 0, 0, 0, 0, 1, 0x0B, 0x04, 0x80};
const Bytes kFormat2{0x43, 0, 2, 0, 0, 0, 1, 0x0B, 0x04, 0};

TEST_F(DriveTest, FullTocOfTwoSessions)
{
    Load("", TwoSessions());
    const Bytes session2{
        0x02, 0x14, 0, 0xA0, 0, 0, 0, 0, 0x04, 0x00, 0x00, //
        0x02, 0x14, 0, 0xA1, 0, 0, 0, 0, 0x04, 0x00, 0x00, //
        0x02, 0x14, 0, 0xA2, 0, 0, 0, 0, 0x02, 0x2F, 0x19, // 02:47:25
        0x02, 0x14, 0, 0x04, 0, 0, 0, 0, 0x02, 0x2E, 0x00, // 02:46:00
    };
    const Bytes expected = Concat({{0x00, 0x86, 0x01, 0x02},
                                   {0x01, 0x12, 0, 0xA0, 0, 0, 0, 0, 0x01, 0x00, 0x00, //
                                    0x01, 0x10, 0, 0xA1, 0, 0, 0, 0, 0x03, 0x00, 0x00, //
                                    0x01, 0x10, 0, 0xA2, 0, 0, 0, 0, 0x00, 0x0E, 0x00, //
                                    0x01, 0x12, 0, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00, //
                                    0x01, 0x11, 0, 0x02, 0, 0, 0, 0, 0x00, 0x07, 0x00, //
                                    0x01, 0x10, 0, 0x03, 0, 0, 0, 0, 0x00, 0x0A, 0x00, //
                                    // next program area 02:44:00, 2 pointers, last lead-out 79:59:74
                                    0x01, 0x50, 0, 0xB0, 0x02, 0x2C, 0x00, 0x02, 0x4F, 0x3B, 0x4A, //
                                    0x01, 0x52, 0, 0xC0, 0, 0, 0, 0, 0x61, 0x1B, 0x00},            // 97:27:00
                                   session2});
    EXPECT_EQ(Run(kOldFullToc, 2820).data, expected);
    EXPECT_EQ(Run(kFormat2, 2820).data, expected);
    Bytes second = kFormat2;
    second[6] = 2;
    EXPECT_EQ(Run(second, 2820).data, Concat({{0x00, 0x2E, 0x01, 0x02}, session2}));
    second[6] = 3;
    EXPECT_EQ(Run(second, 2820).result.sense, kBadField);
}

TEST_F(DriveTest, FullTocInBcd)
{
    Load("bcd=1", TwoSessions());
    const Answer a = Run(kOldFullToc, 2820);
    ASSERT_EQ(a.data.size(), 4u + 12 * 11);
    auto descriptor = [&](int i) { return Slice(a.data, 4 + 11 * static_cast<std::size_t>(i), 11); };
    EXPECT_EQ(descriptor(0), (Bytes{0x01, 0x12, 0, 0xA0, 0, 0, 0, 0, 0x01, 0x00, 0x00}));
    EXPECT_EQ(descriptor(2), (Bytes{0x01, 0x10, 0, 0xA2, 0, 0, 0, 0, 0x00, 0x14, 0x00}));
    EXPECT_EQ(descriptor(5), (Bytes{0x01, 0x10, 0, 0x03, 0, 0, 0, 0, 0x00, 0x10, 0x00}));
    EXPECT_EQ(descriptor(6), (Bytes{0x01, 0x50, 0, 0xB0, 0x02, 0x44, 0x00, 0x02, 0x79, 0x59, 0x74}));
    EXPECT_EQ(descriptor(7), (Bytes{0x01, 0x52, 0, 0xC0, 0, 0, 0, 0, 0x97, 0x27, 0x00}));
    EXPECT_EQ(descriptor(10), (Bytes{0x02, 0x14, 0, 0xA2, 0, 0, 0, 0, 0x02, 0x47, 0x25}));
    // The normal table stays binary.
    EXPECT_EQ(Slice(Run({0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, 804).data, 12, 8),
              (Bytes{0, 0x11, 0x02, 0, 0, 0x00, 0x07, 0x00}));
}

TEST_F(DriveTest, CdTextPacksFromTheDiscTexts)
{
    Load("");
    const Bytes probe{0x43, 0, 5, 0, 0, 0, 1, 0, 4, 0};
    const Answer head = Run(probe, 4);
    ASSERT_TRUE(head.Good());
    const std::size_t total = (head.data[0] << 8 | head.data[1]) + 2u;
    ASSERT_EQ((total - 4) % kCdTextPackBytes, 0u);
    Bytes cdb = probe;
    cdb[7] = static_cast<std::uint8_t>(total >> 8);
    cdb[8] = static_cast<std::uint8_t>(total);
    const Answer all = Run(cdb, total);
    ASSERT_EQ(all.data.size(), total);
    std::string titles;
    for (std::size_t at = 4; at < total; at += kCdTextPackBytes) {
        EXPECT_TRUE(CheckCdTextCrc(&all.data[at])) << "pack at " << at;
        if (all.data[at] == 0x80)
            titles.append(reinterpret_cast<const char*>(&all.data[at + 4]), 12);
    }
    EXPECT_EQ(titles.substr(0, 26), std::string("Disc Title\0One\0Two\0Three\0", 26));
    EXPECT_EQ(all.data[total - kCdTextPackBytes], 0x8F); // size information last
}

TEST_F(DriveTest, CdTextFromTheImageOrRefused)
{
    auto disc = std::make_shared<Disc>();
    disc->tracks.resize(1);
    disc->tracks[0].end = 100;
    disc->sessions = {Session{1, 1, 1, 100}};
    disc->cdTextPacks.assign(2 * kCdTextPackBytes, 0x5A);
    const Bytes cdb{0x43, 0, 5, 0, 0, 0, 1, 0x10, 0, 0};
    Load("", disc);
    EXPECT_EQ(Run(cdb, 4096).data, Concat({{0x00, 0x26, 0, 0}, disc->cdTextPacks}));
    Load("no-cdtext=1", disc);
    EXPECT_EQ(Run(cdb, 4096).result.sense, kBadField);
    Load("", TwoSessions()); // no texts
    EXPECT_EQ(Run(cdb, 4096).result.sense, kBadField);
}

// ---- sectors ----

TEST_F(DriveTest, ReadCdSizesBySelectionAndFlags)
{
    Load("");
    const struct {
        std::uint8_t selection, flags;
        std::size_t size; // 0 with a refusal
    } cases[] = {
        {0, 0x10, 2352}, {1, 0x10, 2448}, {2, 0x10, 2368}, {4, 0x10, 2448}, {2, 0x00, 16},
        {1, 0x00, 96},   {0, 0xF8, 2352}, {3, 0x10, 0},    {5, 0x10, 0},    {0, 0x12, 0}, // C2 pointers
    };
    for (const auto& c : cases) {
        const Answer a = Run(ReadCd(370, 2, c.selection, c.flags), 2 * 2448);
        if (c.size == 0) {
            EXPECT_EQ(a.result.sense, kBadField) << int(c.selection);
        } else {
            EXPECT_TRUE(a.Good()) << int(c.selection);
            EXPECT_EQ(a.data.size(), 2 * c.size) << int(c.selection) << '/' << int(c.flags);
        }
    }
    EXPECT_TRUE(Run(ReadCd(370, 0, 0), 0).Good()); // nothing asked, nothing moved
}

TEST_F(DriveTest, SamplesComeFromTheirSectors)
{
    Load("");
    const Answer a = Run(ReadCd(374, 2, 0), 2 * 2352);
    ASSERT_TRUE(a.Good());
    for (std::size_t k = 0; k < 2 * 588; k += 97)
        EXPECT_EQ(SamplePosition(&a.data[4 * k]), FirstSample(374) + static_cast<std::int64_t>(k)) << k;
}

// Sector 330 lies 45 frames before index 1 of track 2 (pre-emphasis): Q 11 02 00, relative
// 00:00:45 counting down, absolute 00:06:30; CRC worked out apart from the code.
const Bytes kQ330{0x11, 0x02, 0x00, 0x00, 0x00, 0x45, 0x00, 0x00, 0x06, 0x30, 0x6C, 0x81};

TEST_F(DriveTest, FormattedQOfAPregapSector)
{
    Load("");
    EXPECT_EQ(Slice(Run(ReadCd(330, 1, 2), 2368).data, 2352, 16), Concat({kQ330, {0, 0, 0, 0}}));
    EXPECT_EQ(Run(ReadCd(330, 1, 2, 0x00), 16).data, Concat({kQ330, {0, 0, 0, 0}})); // Q alone
    EXPECT_EQ(Slice(Run(ReadCdda(330, 1, 1), 2368).data, 2352, 16), Concat({kQ330, {0, 0, 0, 0}}));

    const Answer raw = Run(ReadCd(330, 1, 1), 2448);
    std::uint8_t q[12];
    ExtractQ(&raw.data[2352], q);
    EXPECT_EQ(Bytes(q, q + 12), kQ330);
    EXPECT_TRUE(std::all_of(raw.data.begin() + 2352, raw.data.end(), [](std::uint8_t b) { return b & 0x80; }))
        << "P is up in a pause";

    Load("plextor=1"); // binary numbers, no CRC; READ CDDA keeps BCD
    EXPECT_EQ(Slice(Run(ReadCd(330, 1, 2), 2368).data, 2352, 16),
              (Bytes{0x11, 0x02, 0x00, 0x00, 0x00, 0x2D, 0x00, 0x00, 0x06, 0x1E, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Slice(Run(ReadCdda(330, 1, 1), 2368).data, 2352, 12), kQ330);
}

TEST_F(DriveTest, LeadOutReadsOnlyWithOverread)
{
    Load("");
    EXPECT_EQ(Run(ReadCd(900, 1, 2), 2368).result.sense, kOutOfRange);
    Load("overread=2");
    const Answer a = Run(ReadCd(900, 1, 2), 2368);
    ASSERT_TRUE(a.Good());
    EXPECT_TRUE(std::all_of(a.data.begin(), a.data.begin() + 2352, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(Slice(a.data, 2352, 16), (Bytes{0x01, 0xAA, 0x01, 0, 0, 0, 0, 0, 0x14, 0x00, 0xEF, 0x08, 0, 0, 0, 0}));
    EXPECT_EQ(Run(ReadCd(901, 2, 0), 2 * 2352).result.sense, kOutOfRange);
    Load("overread=2,plextor=1");
    EXPECT_EQ(Slice(Run(ReadCd(900, 1, 2), 2368).data, 2352, 12),
              (Bytes{0x01, 110, 0x01, 0, 0, 0, 0, 0, 14, 0, 0, 0})); // lead-out as track 110
}

TEST_F(DriveTest, MsfAndSectorAddressingReadTheSame)
{
    Load("");
    ASSERT_EQ(SetDensity(*drive, 0x82, 2352).status, kStatusGood);
    const Bytes reference = Run(ReadCd(370, 3, 0), 3 * 2352).data;
    ASSERT_EQ(reference.size(), 3u * 2352);
    for (const Bytes& cdb : {ReadCdMsf(370, 3, 0), ReadCdda(370, 3, 0), ReadCddaMsf(370, 3, 0), Read10(370, 3)})
        EXPECT_EQ(Run(cdb, 3 * 2352).data, reference) << std::hex << int(cdb[0]);
    const Bytes withSub = Run(ReadCd(370, 3, 1), 3 * 2448).data;
    EXPECT_EQ(Run(ReadCdMsf(370, 3, 1), 3 * 2448).data, withSub);
    EXPECT_EQ(Run(ReadCddaMsf(370, 3, 2), 3 * 2448).data, withSub);
}

TEST_F(DriveTest, ReadCddaSubcodes)
{
    Load("");
    const Bytes audio = Run(ReadCd(331, 1, 0), 2352).data;
    const Bytes raw = Slice(Run(ReadCd(331, 1, 1), 2448).data, 2352, 96);
    const Bytes q = Slice(Run(ReadCd(331, 1, 2), 2368).data, 2352, 16);
    const struct {
        std::uint8_t subcode;
        Bytes expected;
    } cases[] = {{0, audio}, {1, Concat({audio, q})}, {2, Concat({audio, raw})}, {3, raw}};
    for (const auto& c : cases)
        EXPECT_EQ(Run(ReadCdda(331, 1, c.subcode), 2448).data, c.expected) << int(c.subcode);
    EXPECT_EQ(Run(ReadCdda(331, 1, 4), 2448).result.sense, kBadField);
}

TEST_F(DriveTest, Read10FollowsTheDensity)
{
    Load("");
    EXPECT_EQ(Run(Read10(10, 1), 2352).result.sense, kWrongMode); // 2048-byte reads of audio
    const struct {
        std::uint32_t blockLength;
        Bytes same; // the same sector through READ CDDA
    } cases[] = {{2352, ReadCdda(20, 2, 0)}, {2368, ReadCdda(20, 2, 1)}, {2448, ReadCdda(20, 2, 2)}};
    for (const auto& c : cases) {
        ASSERT_EQ(SetDensity(*drive, 0x82, c.blockLength).status, kStatusGood);
        EXPECT_EQ(Run(Read10(20, 2), 2 * 2448).data, Run(c.same, 2 * 2448).data) << c.blockLength;
    }
    EXPECT_EQ(SetDensity(*drive, 0x82, 2000).sense, kBadParameter);
    EXPECT_EQ(SetDensity(*drive, 0x00, 2352).sense, kBadParameter);
    Load("families=mmc+sony");
    EXPECT_EQ(SetDensity(*drive, 0x82, 2352).sense, kBadParameter);
}

TEST_F(DriveTest, DataSectors)
{
    Load("", TwoSessions());
    const Answer user = Run(Read10(12300, 2), 2 * 2048);
    ASSERT_TRUE(user.Good());
    EXPECT_EQ(user.data[0], 12300 & 0xFF);
    EXPECT_EQ(user.data[2048 + 5], (12301 + 5) & 0xFF);
    const Answer raw = Run(ReadCd(12300, 1, 0, 0xF8), 2352); // sync, header, user data, EDC
    EXPECT_EQ(Slice(raw.data, 0, 16),
              (Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0x02, 0x46, 0x00, 0x01}));
    EXPECT_EQ(Run(ReadCd(12300, 1, 0, 0x10), 2352).data, Slice(raw.data, 16, 2048));

    EXPECT_EQ(Run(Bytes{0xBE, 1 << 2, 0, 0, 0x30, 0x0C, 0, 0, 1, 0x10, 0, 0}, 2352).result.sense, kWrongMode);
    EXPECT_EQ(Run(Bytes{0xBE, 2 << 2, 0, 0, 0, 10, 0, 0, 1, 0x10, 0, 0}, 2352).result.sense, kWrongMode);
    EXPECT_EQ(Run(ReadCdda(12300, 1, 0), 2352).result.sense, kWrongMode);
    EXPECT_EQ(Run(ReadCd(1000, 1, 0), 2352).result.sense, kOutOfRange); // between the sessions
}

TEST_F(DriveTest, DeinterleavedRwAgainstRaw)
{
    Load("", WithSubFile());
    // Raw P-W is the file as it is: the interleaved stream plus Q.
    const Answer raw = Run(ReadCd(100, 1, 1), 2448);
    Bytes rw(96);
    GetRw(&raw.data[2352], rw.data());
    EXPECT_NE(rw[1], RwSymbol(400, 1)) << "raw R-W must still be interleaved";

    // De-interleaved, every pack comes back 7 packs later, whatever sector the read starts at.
    for (const std::int64_t lba : {0, 1, 100, 101}) {
        const Answer a = Run(ReadCd(lba, 2, 4), 2 * 2448);
        ASSERT_TRUE(a.Good());
        for (int s = 0; s < 2; ++s)
            for (int k = 0; k < 96; ++k) {
                const std::int64_t pack = (lba + s) * 4 + k / 24 - 7;
                const std::uint8_t expected = pack < 0 ? 0 : RwSymbol(pack, k % 24);
                ASSERT_EQ(a.data[static_cast<std::size_t>(s * 2448 + 2352 + k)], expected)
                    << "sector " << lba + s << " byte " << k;
            }
    }
}

TEST_F(DriveTest, RangesAndTransferLengthsAreChecked)
{
    Load("");
    const struct {
        const char* name;
        Bytes cdb;
        std::size_t length;
        Sense sense;
    } cases[] = {
        {"before the disc", ReadCd(-1, 1, 0), 2352, kOutOfRange},
        {"past the lead-out", ReadCd(899, 2, 0), 2 * 2352, kOutOfRange},
        {"buffer one byte short", ReadCd(10, 2, 0), 2 * 2352 - 1, kBadField},
        {"MSF end before start", {0xB9, 0, 0, 0, 3, 0, 0, 2, 0, 0x10, 0, 0}, 2352, kBadField},
        {"READ CDDA past the end", ReadCdda(0, 901, 0), 901 * 2352, kOutOfRange},
        {"huge count", ReadCdda(0, -1, 0), 2352, kOutOfRange},
        {"sub-code vendor command", {0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0}, 100, kBadField},
        {"seek past the end", Seek(900), 0, kOutOfRange},
        {"unknown opcode", {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, 2352, kBadOpcode},
        {"short command block", {0xBE, 0, 0, 0, 0, 0}, 2352, kBadField},
    };
    for (const auto& c : cases) {
        const Answer a = Run(c.cdb, c.length);
        EXPECT_EQ(a.result.status, kStatusCheckCondition) << c.name;
        EXPECT_EQ(a.result.sense, c.sense) << c.name;
        EXPECT_EQ(a.result.transferred, 0u) << c.name;
    }
}

// ---- faults ----

std::vector<std::int64_t> JitterOffsets(const char* options, std::int64_t lba, int reads)
{
    VirtualDrive drive(Options(options));
    drive.Insert(ThreeTracks());
    std::vector<std::int64_t> offsets;
    for (int i = 0; i < reads; ++i) {
        const Answer a = In(drive, ReadCd(lba, 1, 0), 2352);
        EXPECT_TRUE(a.Good());
        if (a.data.size() != 2352)
            break;
        // The middle sample is always on the disc; every other one follows on from it,
        // or is silence beyond either end of the disc.
        const std::int64_t offset = SamplePosition(&a.data[4 * 294]) - FirstSample(lba) - 294;
        for (std::int64_t k = 0; k < 588; ++k) {
            const std::int64_t expected = FirstSample(lba) + k + offset;
            const bool onDisc = expected >= FirstSample(0) && expected < FirstSample(900);
            EXPECT_EQ(SamplePosition(&a.data[static_cast<std::size_t>(4 * k)]), onDisc ? expected : -1)
                << "offset " << offset << " sample " << k;
        }
        offsets.push_back(offset);
    }
    return offsets;
}

TEST(DriveFaults, JitterIsBoundedAndRepeatsWithItsSeed)
{
    const auto first = JitterOffsets("jitter=5,seed=7", 100, 40);
    EXPECT_EQ(JitterOffsets("jitter=5,seed=7", 100, 40), first);
    EXPECT_NE(JitterOffsets("jitter=5,seed=8", 100, 40), first);
    EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](std::int64_t o) { return o >= -5 && o <= 5; }));
    EXPECT_GE(std::set<std::int64_t>(first.begin(), first.end()).size(), 5u);
    const auto none = JitterOffsets("", 100, 5);
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](std::int64_t o) { return o == 0; }));
}

TEST(DriveFaults, JitterShiftsInSilenceAtTheEdgesOfTheDisc)
{
    for (const std::int64_t lba : {0, 899}) {
        const auto offsets = JitterOffsets("jitter=200,seed=3", lba, 20);
        const bool outward =
            std::any_of(offsets.begin(), offsets.end(), [lba](std::int64_t o) { return lba == 0 ? o < 0 : o > 0; });
        EXPECT_TRUE(outward) << "no read reached past the disc at " << lba;
    }
}

TEST(DriveFaults, ReadErrorsAtExactlyTheListedSectors)
{
    VirtualDrive drive(Options("errors=10:12"));
    drive.Insert(ThreeTracks());
    for (std::int64_t lba = 8; lba <= 13; ++lba) {
        const bool bad = lba == 10 || lba == 12;
        for (const Bytes& cdb : {ReadCd(lba, 1, 0), ReadCdda(lba, 1, 0)}) {
            const Answer a = In(drive, cdb, 2352);
            EXPECT_EQ(a.result.status, bad ? kStatusCheckCondition : kStatusGood) << lba;
            EXPECT_EQ(a.result.sense, (bad ? Sense{3, 0x11, 0} : Sense{})) << lba;
        }
    }
    // A run stops at the bad sector, after the good ones before it.
    const Answer run = In(drive, ReadCd(8, 4, 0), 4 * 2352);
    EXPECT_EQ(run.result.sense, (Sense{3, 0x11, 0}));
    ASSERT_EQ(run.data.size(), 2u * 2352);
    EXPECT_EQ(SamplePosition(&run.data[2352]), FirstSample(9));

    VirtualDrive data(Options("errors=12301"));
    data.Insert(TwoSessions());
    const Answer a = In(data, Read10(12300, 2), 2 * 2048);
    EXPECT_EQ(a.result.sense, (Sense{3, 0x11, 5}));
    EXPECT_EQ(a.result.transferred, 2048u);
}

TEST(DriveFaults, DelayWaitsOncePerReadCommand)
{
    VirtualDrive drive(Options("delay=40"));
    std::vector<int> waits;
    drive.SetSleep([&](int ms) { waits.push_back(ms); });
    drive.Insert(ThreeTracks());
    In(drive, ReadCd(0, 3, 0), 3 * 2352);
    In(drive, {0x43, 2, 0, 0, 0, 0, 0, 3, 0x24, 0}, 804);
    In(drive, ReadCdda(0, 2, 0), 2 * 2352);
    NoData(drive, {0, 0, 0, 0, 0, 0});
    In(drive, Read10(0, 1), 2048); // refused, still slow
    EXPECT_EQ(waits, (std::vector<int>{40, 40, 40}));
}

TEST(DriveFaults, TrayOpensWhenAReadReachesTheSector)
{
    VirtualDrive drive(Options("tray-open-at=100"));
    std::vector<bool> events;
    drive.OnMediaChange = [&](bool inserted) { events.push_back(inserted); };
    drive.Insert(ThreeTracks());
    const Answer a = In(drive, ReadCd(98, 4, 0), 4 * 2352);
    EXPECT_EQ(a.result.sense, kNotPresent);
    EXPECT_EQ(a.result.transferred, 2u * 2352);
    EXPECT_TRUE(drive.TrayOpen());
    EXPECT_EQ(events, (std::vector<bool>{true, false}));
    NoData(drive, {0x1B, 1, 0, 0, 3, 0}); // closed again: the fault has fired
    EXPECT_TRUE(In(drive, ReadCd(98, 4, 0), 4 * 2352).Good());
}

// ---- personalities ----

TEST(DriveFamilies, LeftOutFamiliesAreInvalidOpcodes)
{
    const struct {
        const char* option;
        bool mmc, msf, sony, df;
    } cases[] = {
        {"", true, true, true, true},
        {"families=mmc", true, false, false, false},
        {"families=msf+sony", false, true, true, false},
        {"families=toshiba+df", false, false, false, true},
        {"families=none", false, false, false, false},
    };
    for (const auto& c : cases) {
        VirtualDrive drive(Options(c.option));
        drive.Insert(ThreeTracks());
        const std::pair<Bytes, bool> commands[] = {
            {ReadCd(0, 1, 0), c.mmc},
            {ReadCdMsf(0, 1, 0), c.msf},
            {ReadCdda(0, 1, 0), c.sony},
            {ReadCddaMsf(0, 1, 0), c.sony},
            {{0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, c.df},
        };
        for (const auto& [cdb, answered] : commands) {
            const Answer a = In(drive, cdb, 2352);
            EXPECT_EQ(a.result.sense, answered ? Sense{} : kBadOpcode) << c.option << ' ' << std::hex << int(cdb[0]);
        }
        // What every drive answers stays.
        EXPECT_TRUE(In(drive, {0x43, 2, 0, 0, 0, 0, 0, 3, 0x24, 0}, 804).Good()) << c.option;
    }
}

TEST(DriveTray, EjectLoadLockAndMediaEvents)
{
    VirtualDrive drive;
    std::vector<bool> events;
    drive.OnMediaChange = [&](bool inserted) { events.push_back(inserted); };
    const Bytes ready{0, 0, 0, 0, 0, 0}, eject{0x1B, 1, 0, 0, 2, 0}, load{0x1B, 1, 0, 0, 3, 0};
    const Bytes lock{0x1E, 0, 0, 0, 1, 0}, unlock{0x1E, 0, 0, 0, 0, 0};

    EXPECT_EQ(NoData(drive, ready).sense, kNotPresent);
    drive.Insert(ThreeTracks());
    EXPECT_TRUE(drive.HasDisc());
    EXPECT_EQ(NoData(drive, ready).sense, Sense{});

    EXPECT_EQ(NoData(drive, lock).status, kStatusGood);
    EXPECT_EQ(NoData(drive, eject).sense, (Sense{5, 0x53, 0x02}));
    EXPECT_FALSE(drive.TrayOpen());
    NoData(drive, unlock);
    EXPECT_EQ(NoData(drive, eject).status, kStatusGood);
    EXPECT_TRUE(drive.TrayOpen());
    EXPECT_FALSE(drive.HasDisc());
    EXPECT_EQ(NoData(drive, ready).sense, kNotPresent);
    EXPECT_EQ(In(drive, {0x43, 2, 0, 0, 0, 0, 0, 3, 0x24, 0}, 804).result.sense, kNotPresent);
    NoData(drive, eject); // already open: no second event
    NoData(drive, load);
    EXPECT_EQ(NoData(drive, ready).sense, Sense{});
    drive.Remove();
    EXPECT_EQ(NoData(drive, ready).sense, kNotPresent);
    NoData(drive, eject);
    NoData(drive, load); // an empty tray: no events
    EXPECT_EQ(events, (std::vector<bool>{true, false, true, false}));
}

TEST(DriveSense, RequestSenseReportsTheLastRefusal)
{
    VirtualDrive drive;
    NoData(drive, {0, 0, 0, 0, 0, 0});
    const Bytes requestSense{0x03, 0, 0, 0, 18, 0};
    EXPECT_EQ(In(drive, requestSense, 18).data,
              (Bytes{0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(In(drive, requestSense, 18).data[2], 0); // read once
}

// MODE SENSE and SELECT of the audio control page the way the player changes it: the mode
// data length zeroed, PS cleared, parameter length = sensed length + 1 (6-byte) or + 2.
TEST(DriveModePages, AudioControlPageRoundTrip)
{
    for (const bool six : {true, false}) {
        VirtualDrive drive;
        const Bytes sense = six ? Bytes{0x1A, 0, 0x0E, 0, 28, 0} : Bytes{0x5A, 0, 0x0E, 0, 0, 0, 0, 0, 32, 0};
        const std::size_t header = six ? 4 : 8;
        Answer a = In(drive, sense, 255);
        ASSERT_EQ(a.data.size(), header + 8 + 16) << six;
        const std::size_t page = header + (six ? a.data[3] : a.data[6] << 8 | a.data[7]);
        EXPECT_EQ(Slice(a.data, page, 12), (Bytes{0x0E, 14, 0x04, 0, 0, 0, 0, 0, 1, 255, 2, 255}));

        const std::size_t length = six ? a.data[0] + 1u : (a.data[0] << 8 | a.data[1]) + 2u;
        Bytes parameters = a.data;
        parameters[0] = 0;
        if (!six)
            parameters[1] = 0;
        parameters[page] &= 0x7F;
        parameters[page + 8] = 2; // swapped channels, new volumes
        parameters[page + 9] = 200;
        parameters[page + 10] = 1;
        parameters[page + 11] = 100;
        const Bytes select = six ? Bytes{0x15, 0x10, 0, 0, static_cast<std::uint8_t>(length), 0}
                                 : Bytes{0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(length), 0};
        EXPECT_EQ(Out(drive, select, parameters).status, kStatusGood) << six;
        a = In(drive, sense, 255);
        EXPECT_EQ(Slice(a.data, page + 8, 4), (Bytes{2, 200, 1, 100})) << six;

        parameters[page] = 0x2A; // the capabilities page cannot be set
        EXPECT_EQ(Out(drive, select, parameters).sense, kBadParameter) << six;
    }
}

int CurrentSpeed(VirtualDrive& drive)
{
    const Answer a = In(drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 255, 0}, 255);
    const std::size_t page = 8 + (a.data[6] << 8 | a.data[7]);
    EXPECT_EQ(a.data.at(page), 0x2A);
    return a.data.at(page + 14) << 8 | a.data.at(page + 15);
}

void SetSpeed(VirtualDrive& drive, int speed)
{
    EXPECT_EQ(NoData(drive, {0xBB, 0, static_cast<std::uint8_t>(speed >> 8), static_cast<std::uint8_t>(speed), 0xFF,
                             0xFF, 0, 0, 0, 0, 0, 0})
                  .status,
              kStatusGood);
}

TEST(DriveSpeed, SetCdSpeedPicksTheNearestListedSpeedNotAbove)
{
    const struct {
        const char* options;
        int asked, current;
    } cases[] = {
        {"speeds=706:1411:2822", 176, 706},
        {"speeds=706:1411:2822", 1411, 1411},
        {"speeds=706:1411:2822", 2000, 1411},
        {"speeds=706:1411:2822", 0xFFFF, 2822},
        {"speeds=706:1411:2822,ignore-speed=1", 706, 2822},
    };
    for (const auto& c : cases) {
        VirtualDrive drive(Options(c.options));
        SetSpeed(drive, c.asked);
        EXPECT_EQ(CurrentSpeed(drive), c.current) << c.options << ' ' << c.asked;
    }
}

// The player lists speeds by setting j x 176.4 kB/s (and one more) for j = 1..72 and keeping
// every change of the current speed.
TEST(DriveSpeed, ListingSpeedsFindsTheConfiguredOnes)
{
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"speeds=706:1411:2822", {706, 1411, 2822}},
        {"", {706, 1411, 2822, 4234, 5645, 7056}},
        {"ignore-speed=1", {7056}},
    };
    for (const auto& [options, expected] : cases) {
        VirtualDrive drive(Options(options));
        std::vector<int> listed;
        for (int j = 1; j <= 72; ++j)
            for (int k = 0; k < 2; ++k) {
                SetSpeed(drive, j * 176400 / 1000 + k);
                if (const int now = CurrentSpeed(drive); now != (listed.empty() ? 0 : listed.back())) {
                    listed.push_back(now);
                    break;
                }
            }
        EXPECT_EQ(listed, expected) << options;
    }
}

// Whatever arrives, the drive answers GOOD or CHECK CONDITION and stays inside the buffer.
TEST(DriveRobustness, RandomCommandBlocks)
{
    VirtualDrive drive(Options("overread=1,tray-open-at=50"));
    drive.Insert(TwoSessions());
    std::mt19937 random(12345);
    const std::size_t lengths[] = {0, 1, 16, 100, 2 * 2448};
    const std::size_t cdbLengths[] = {1, 6, 10, 12, 16};
    for (int opcode = 0; opcode < 256; ++opcode)
        for (int trial = 0; trial < 12; ++trial) {
            Bytes cdb(cdbLengths[random() % 5]);
            for (auto& b : cdb)
                b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
            cdb[0] = static_cast<std::uint8_t>(opcode);
            const std::size_t length = lengths[random() % 5];
            Bytes buffer(length + 64, 0xC3);
            const auto direction = static_cast<Direction>(random() % 3);
            const CommandResult r = drive.Execute(cdb.data(), cdb.size(), direction, buffer.data(), length);
            ASSERT_TRUE(r.status == kStatusGood || (r.status == kStatusCheckCondition && r.sense.key != 0))
                << std::hex << opcode;
            ASSERT_LE(r.transferred, length);
            ASSERT_TRUE(std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(length), buffer.end(),
                                    [](std::uint8_t b) { return b == 0xC3; }))
                << "wrote past the buffer, opcode " << std::hex << opcode;
            if (drive.TrayOpen())
                drive.Insert(TwoSessions());
        }
    EXPECT_EQ(drive.Execute(nullptr, 0, Direction::In, nullptr, 0).sense, kBadOpcode);
}

} // namespace
} // namespace vantrel::vdrive::test
