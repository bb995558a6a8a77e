#include "vdrive/codec/SubQ.h"

#include <array>
#include <cstring>
#include <string_view>

#include <gtest/gtest.h>

#include "drive/CdAddress.h"

namespace vantrel::vdrive {
namespace {

using Frame = std::array<std::uint8_t, kQFrameBytes>;

Frame Encode(const QPosition& position)
{
    Frame q{};
    EncodeQ(position, q.data());
    return q;
}

// Expected CRC bytes computed apart from this code (CRC-16/XMODEM of the 10 bytes, inverted).
TEST(QFrame, CrcMatchesIndependentlyComputedValues)
{
    using namespace std::string_view_literals;
    const std::pair<std::string_view, std::uint16_t> cases[] = {
        {"123456789"sv, 0xCE3C}, // the XMODEM check value 0x31C3, inverted
        {"\x01\x01\x01\x00\x00\x00\x00\x00\x02\x00"sv, 0x5A28},
        {"\x41\x12\x00\x00\x01\x74\x00\x03\x59\x73"sv, 0x059A},
        {""sv, 0xFFFF},
    };
    for (const auto& [bytes, crc] : cases)
        EXPECT_EQ(QCrc(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), crc)
            << testing::PrintToString(bytes);
}

struct EncodeCase {
    const char* name;
    QPosition position;
    Frame bytes;
};

const EncodeCase kEncodeCases[] = {
    {"start of track 1", {0x0, 1, 1, 1, 0, 150}, {0x01, 0x01, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00, 0x5A, 0x28}},
    // 149 frames before index 1 of track 12: the pre-gap counts 00:01:74 down.
    {"pre-gap of track 12",
     {0x4, 1, 12, 0, -149, 17998},
     {0x41, 0x12, 0x00, 0x00, 0x01, 0x74, 0, 0x03, 0x59, 0x73, 0x05, 0x9A}},
    {"lead-out",
     {0x0, 1, kLeadOutTrack, 1, 5, 45 * 4500},
     {0x01, 0xAA, 0x01, 0x00, 0x00, 0x05, 0, 0x45, 0x00, 0x00, 0xF5, 0xB5}},
};

TEST(QFrame, EncodesBcdFieldsAndCrc)
{
    for (const auto& c : kEncodeCases) {
        EXPECT_EQ(Encode(c.position), c.bytes) << c.name;
        QPosition decoded{};
        ASSERT_TRUE(DecodeQ(c.bytes.data(), decoded)) << c.name;
        EXPECT_EQ(decoded, c.position) << c.name;
    }
}

TEST(QFrame, TimesBeyondBcdMinutesStopAt99_59_74)
{
    const Frame q = Encode({0x0, 1, kLeadOutTrack, 1, 5, 150 * 4500});
    EXPECT_EQ(q, (Frame{0x01, 0xAA, 0x01, 0x00, 0x00, 0x05, 0, 0x99, 0x59, 0x74, 0x6F, 0x74}));
}

TEST(QFrame, RoundTripsEveryFieldAcrossADisc)
{
    // Track 3 with a 2-second pre-gap at 10:00:00 (index 1) and an index 2 later on.
    const std::int64_t index1 = 10 * 4500;
    for (std::int64_t absolute = index1 - 150; absolute < index1 + 9000; absolute += 7) {
        QPosition p;
        p.control = 0x2;
        p.track = 3;
        p.index = absolute < index1 ? 0 : absolute < index1 + 4500 ? 1 : 2;
        p.relativeFrames = absolute - index1;
        p.absoluteFrames = absolute;
        QPosition decoded;
        ASSERT_TRUE(DecodeQ(Encode(p).data(), decoded)) << absolute;
        ASSERT_EQ(decoded, p) << absolute;
    }
}

TEST(QFrame, DecodeRejectsCorruptionAndNonPositionFrames)
{
    const Frame good = Encode({0x0, 1, 7, 1, 1234, 56789});
    const QPosition untouched{0xF, 1, 99, 99, 1, 2};
    for (std::size_t bit = 0; bit < 8 * kQFrameBytes; ++bit) {
        Frame bad = good;
        bad[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        QPosition p = untouched;
        EXPECT_FALSE(DecodeQ(bad.data(), p)) << bit;
        EXPECT_EQ(p, untouched) << bit;
    }
    // A media catalogue frame (ADR 2) with a valid CRC is not a position.
    Frame mcn{0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0x00, 0x45};
    const std::uint16_t crc = QCrc(mcn.data(), 10);
    mcn[10] = static_cast<std::uint8_t>(crc >> 8);
    mcn[11] = static_cast<std::uint8_t>(crc);
    QPosition p = untouched;
    EXPECT_FALSE(DecodeQ(mcn.data(), p));
    EXPECT_EQ(p, untouched);
}

// The program reads a 16-byte formatted Q into its 10-byte Q record like this: BCD numbers
// converted when ADR is 1 (the lead-out track AA kept as 170), or, for drives that send binary,
// taken as they are with track 110 meaning 170. Byte 9 is converted in both cases for other ADRs.
std::array<std::uint8_t, 10> ParseFormattedQ(const std::uint8_t fq[kFormattedQBytes], bool binaryDrive)
{
    std::array<std::uint8_t, 10> record{};
    record[0] = fq[0];
    if ((fq[0] & 0x0F) == 1) {
        if (binaryDrive) {
            std::memcpy(record.data() + 1, fq + 1, 9);
            if (record[1] == 110)
                record[1] = 170;
        } else {
            record[1] = fq[1] == 0xAA ? 170 : BcdToBin(fq[1]);
            for (int i : {2, 3, 4, 5, 7, 8, 9})
                record[i] = BcdToBin(fq[i]);
        }
    } else {
        std::memcpy(record.data() + 1, fq + 1, 8);
        record[9] = BcdToBin(fq[9]);
    }
    return record;
}

TEST(QFrame, FormattedQReadsBackAsTheProgramParsesIt)
{
    struct Case {
        QPosition position;
        std::array<std::uint8_t, 10> record; // control/ADR, track, index, rel M S F, 0, abs M S F
    };
    const Case cases[] = {
        {{0x0, 1, 1, 1, 0, 150}, {0x01, 1, 1, 0, 0, 0, 0, 0, 2, 0}},
        {{0x4, 1, 12, 0, -149, 17998}, {0x41, 12, 0, 0, 1, 74, 0, 3, 59, 73}},
        {{0x1, 1, kLeadOutTrack, 1, 4574, 62 * 4500 + 3}, {0x11, 170, 1, 1, 0, 74, 0, 62, 0, 3}},
    };
    for (const auto& c : cases) {
        const Frame q = Encode(c.position);
        for (const bool binary : {false, true}) {
            std::uint8_t fq[kFormattedQBytes];
            std::memset(fq, 0xEE, sizeof fq);
            FormattedQ16(q.data(), fq, binary);
            EXPECT_EQ(ParseFormattedQ(fq, binary), c.record) << int(c.position.track) << " binary " << binary;
            EXPECT_EQ(fq[10], binary ? 0 : q[10]);
            EXPECT_EQ(fq[11], binary ? 0 : q[11]);
            for (int i = 12; i < 16; ++i)
                EXPECT_EQ(fq[i], 0) << i;
        }
    }
    // In binary form the lead-out track reads 110, as such drives report it.
    std::uint8_t fq[kFormattedQBytes];
    FormattedQ16(Encode(cases[2].position).data(), fq, true);
    EXPECT_EQ(fq[1], 110);
}

TEST(QFrame, FormattedQLeavesOtherAdrFramesAsTheyAre)
{
    const Frame mcn{0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0x00, 0x45, 0xAB, 0xCD};
    for (const bool binary : {false, true}) {
        std::uint8_t fq[kFormattedQBytes];
        FormattedQ16(mcn.data(), fq, binary);
        EXPECT_TRUE(std::equal(mcn.begin(), mcn.end(), fq)) << binary;
    }
}

} // namespace
} // namespace vantrel::vdrive
