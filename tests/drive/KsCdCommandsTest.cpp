// The command blocks byte by byte, and the reading operations against the emulated drive:
// table of contents in both forms, CD-Text, sectors by every method and sub-code mode,
// and the three Q readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "VirtualTransport.h"

namespace vantrel::test {
namespace {

std::vector<std::uint8_t> CdbOf(const TScsiCommand& c)
{
    return {c.cdb.begin(), c.cdb.begin() + c.cdbLength};
}

TEST(ScsiCommandBlocks, CarryFieldsWhereTheDriveLooksForThem)
{
    using D = ScsiDirection;
    struct Case {
        const char* name;
        std::optional<TScsiCommand> command;
        std::vector<std::uint8_t> cdb;
        D direction;
        std::size_t length;
        std::uint32_t timeoutMs = 15000;
    };
    // LUN 5 sits in byte 1 as A0 hex wherever the command has a LUN field.
    const Case cases[] = {
        {"INQUIRY", cdb::Inquiry(), {0x12, 0, 0, 0, 0x64, 0}, D::In, 100},
        {"TEST UNIT READY", cdb::TestUnitReady(5), {0x00, 0xA0, 0, 0, 0, 0}, D::None, 0},
        {"eject", cdb::StartStopUnit(2), {0x1B, 0x01, 0, 0, 0x02, 0}, D::None, 0},
        {"stop unit", cdb::StopUnit(5), {0x1B, 0xA1, 0, 0, 0, 0}, D::None, 0},
        {"lock", cdb::PreventAllow(5, true), {0x1E, 0xA0, 0, 0, 0x01, 0}, D::None, 0},
        {"TOC normal", cdb::ReadTocNormal(), {0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0}, D::In, 804},
        {"full TOC, old form", cdb::ReadTocAdvancedOld(), {0x43, 0, 0, 0, 0, 0, 1, 0x0B, 0x04, 0x80}, D::In, 2820},
        {"full TOC, format 2", cdb::ReadTocAdvanced(), {0x43, 0, 0x02, 0, 0, 0, 1, 0x0B, 0x04, 0}, D::In, 2820},
        {"CD-Text", cdb::ReadTocCdText(0x1234), {0x43, 0, 0x05, 0, 0, 0, 1, 0x12, 0x34, 0}, D::In, 0x1234},
        {"PLAY AUDIO(12)",
         cdb::PlayAudio12(5, 375, 300),
         {0xA5, 0xA0, 0, 0, 0x01, 0x77, 0, 0, 0x01, 0x2C, 0, 0},
         D::None,
         0},
        {"PLAY AUDIO MSF",
         cdb::PlayAudioMsf(5, Address(0, 7, 0), Address(0, 11, 0)),
         {0x47, 0xA0, 0, 0, 7, 0, 0, 11, 0, 0},
         D::None,
         0},
        {"STOP", cdb::StopPlayScan(5), {0x4E, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0}, D::None, 0},
        {"RESUME", cdb::PauseResume(5, true), {0x4B, 0xA0, 0, 0, 0, 0, 0, 0, 1, 0}, D::None, 0},
        {"READ SUB-CHANNEL",
         cdb::ReadSubChannel(5, 3000),
         {0x42, 0xA2, 0x40, 0x01, 0, 0, 0, 0, 0x10, 0},
         D::In,
         16,
         3000},
        {"SEEK", cdb::Seek10(5, 0x12345), {0x2B, 0xA0, 0, 0x01, 0x23, 0x45, 0, 0, 0, 0}, D::None, 0},
        {"READ CD", cdb::ReadCd(5, 0x010203, 2, 2), {0xBE, 0xA0, 0, 1, 2, 3, 0, 0, 2, 0x10, 2, 0}, D::In, 2 * 2368},
        {"READ CD MSF",
         cdb::ReadCdMsf(5, Frames(0, 8, 0), 2, 1),
         {0xB9, 0xA0, 0, 0, 8, 0, 0, 8, 2, 0x10, 1, 0},
         D::In,
         2 * 2448},
        {"READ CDDA", cdb::ReadCdda(5, 450, 2, 3), {0xD8, 0xA0, 0, 0, 0x01, 0xC2, 0, 0, 0, 2, 3, 0}, D::In, 2 * 96},
        {"READ CDDA MSF",
         cdb::ReadCddaMsf(5, Frames(0, 8, 0), 2, 1),
         {0xD9, 0xA0, 0, 0, 8, 0, 0, 0, 8, 2, 1, 0},
         D::In,
         2 * 2368},
        {"READ(10)", cdb::Read10(5, 450, 2, 2448), {0x28, 0xA0, 0, 0, 0x01, 0xC2, 0, 0, 2, 0}, D::In, 2 * 2448},
        {"READ CD, Q alone",
         cdb::ReadCdGeneral(5, 0, 450, 1, 0, 2),
         {0xBE, 0xA0, 0, 0, 0x01, 0xC2, 0, 0, 1, 0, 2, 0},
         D::In,
         16},
        {"READ SUB-CODE", cdb::ReadSubCode(5, 3), {0xDF, 0xA0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0}, D::In, 3 * 96},
        {"MODE SENSE(6)", cdb::ModeSense(5, false, 0x0E, 28), {0x1A, 0xA0, 0x0E, 0, 28, 0}, D::In, 28},
        {"MODE SENSE(10)", cdb::ModeSense(5, true, 0x2A, 255), {0x5A, 0xA0, 0x2A, 0, 0, 0, 0, 0, 0xFF, 0}, D::In, 255},
        {"MODE SELECT(6)", cdb::ModeSelect(5, false, 28), {0x15, 0xB0, 0, 0, 28, 0}, D::Out, 28},
        {"MODE SELECT(10)", cdb::ModeSelect(5, true, 16), {0x55, 0xB0, 0, 0, 0, 0, 0, 0, 16, 0}, D::Out, 16},
        {"SET CD SPEED", cdb::SetCdSpeed(5, 1411), {0xBB, 0xA0, 0x05, 0x83, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, D::In, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.command);
        EXPECT_EQ(CdbOf(*c.command), c.cdb);
        EXPECT_EQ(c.command->direction, c.direction);
        EXPECT_EQ(c.command->length, c.length);
        EXPECT_EQ(c.command->timeoutMs, c.timeoutMs);
    }
}

TEST(ScsiCommandBlocks, UnknownSelectionsAndUncarriableRangesGiveNoCommand)
{
    EXPECT_FALSE(cdb::ReadCd(0, 0, 1, 3));
    EXPECT_FALSE(cdb::ReadCd(0, 0, 1, 5));
    EXPECT_FALSE(cdb::ReadCdMsf(0, 150, 1, 3));
    EXPECT_FALSE(cdb::ReadCdda(0, 0, 1, 4));
    EXPECT_FALSE(cdb::ReadCddaMsf(0, 150, 1, 4));
    EXPECT_FALSE(cdb::ReadCd(0, 0, 0x10000, 0)); // the count field holds 16 bits
    EXPECT_FALSE(cdb::Read10(0, 0, 0x10000, 2352));
    EXPECT_FALSE(cdb::ReadCdMsf(0, -1, 1, 0)); // no address before 00:00:00
    EXPECT_FALSE(cdb::ReadCddaMsf(0, kMaxAddressFrames, 1, 0));
}

// ---- table of contents ----

struct ExpectedTrack {
    TCdAddress start, end;
    std::uint8_t number, session;
    std::uint8_t pre, copy, data;
};

void ExpectTracks(const TCdToc& toc, const std::vector<ExpectedTrack>& tracks)
{
    ASSERT_EQ(toc.trackCount, tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const TCdTrackEntry& entry = toc.tracks[i];
        const ExpectedTrack& want = tracks[i];
        EXPECT_EQ(entry.start, want.start);
        EXPECT_EQ(entry.end, want.end);
        EXPECT_EQ(entry.preGapStart, i == 0 ? TCdAddress{} : want.start);
        EXPECT_EQ(entry.endBeforeGap, want.end);
        EXPECT_EQ(entry.trackNumber, want.number);
        EXPECT_EQ(entry.session, want.session);
        EXPECT_EQ(entry.preEmphasis, want.pre);
        EXPECT_EQ(entry.copyPermitted, want.copy);
        EXPECT_EQ(entry.dataTrack, want.data);
        EXPECT_EQ(entry.fourChannel, 0);
    }
}

TEST(ScsiReadTocNormal, FillsTracksFlagsAndTheLeadOutEntry)
{
    Rig rig;
    TCdToc toc;
    toc.sessionCount = 9; // the record is cleared, not merged
    ASSERT_TRUE(ReadTocNormal(rig.transport, rig.cd, toc));
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 4);
    EXPECT_EQ(toc.sessionCount, 0);
    ExpectTracks(toc, {{Address(0, 2, 0), Address(0, 7, 0), 1, 0, 0, 1, 0},
                       {Address(0, 7, 0), Address(0, 11, 0), 2, 0, 1, 0, 0},
                       {Address(0, 11, 0), Address(0, 15, 0), 3, 0, 0, 0, 0},
                       {Address(0, 15, 0), Address(0, 17, 0), 4, 0, 0, 0, 1}});
    EXPECT_EQ(toc.tracks[4].start, Address(0, 17, 0));
    EXPECT_EQ(toc.leadOut, Address(0, 17, 0));
    EXPECT_EQ(rig.transport.sent.size(), 1u);
}

// Twelve one-second audio tracks in session 1 (lead-out 00:14:00), and a data track 13 in
// session 2 at 02:46:00 after the 11250 sectors between sessions, lead-out 02:49:00.
std::string TwoSessionDisc()
{
    std::string text = "disc\n";
    for (int i = 0; i < 12; ++i)
        text += "track length=00:01:00\n";
    return text + "track length=00:03:00 data=1 session=2\n";
}

TEST(ScsiReadTocAdvanced, SessionsFromTheFullTocInEveryForm)
{
    struct Case {
        const char* name;
        const char* options;
        bool bcd;
        bool oldFormRefused;
    };
    for (const Case& c : {Case{"binary", "", false, false}, Case{"BCD drive", "bcd=1", true, false},
                          Case{"old form refused", "", false, true}}) {
        SCOPED_TRACE(c.name);
        Rig rig(TwoSessionDisc(), c.options);
        if (c.oldFormRefused)
            rig.transport.refuse = [](const std::vector<std::uint8_t>& cdb, std::uint8_t) {
                return cdb[0] == 0x43 && cdb[9] == 0x80;
            };
        TCdToc toc;
        ASSERT_TRUE(ReadTocAdvanced(rig.transport, rig.cd, c.bcd, toc));
        EXPECT_EQ(rig.transport.sent.size(), c.oldFormRefused ? 2u : 1u);
        EXPECT_EQ(rig.transport.sent.back().cdb[2], c.oldFormRefused ? 2 : 0);

        EXPECT_EQ(toc.firstSession, 1);
        EXPECT_EQ(toc.lastSession, 2);
        EXPECT_EQ(toc.sessionCount, 2);
        const TCdSession& one = toc.sessions[0];
        EXPECT_EQ(one.start, Address(0, 2, 0));
        EXPECT_EQ(one.leadOut, Address(0, 14, 0));
        EXPECT_EQ(std::vector<int>({one.firstTrack, one.lastTrack, one.trackCount, one.session}),
                  std::vector<int>({1, 12, 12, 1}));
        const TCdSession& two = toc.sessions[1];
        EXPECT_EQ(two.start, Address(2, 46, 0));
        EXPECT_EQ(two.leadOut, Address(2, 49, 0));
        EXPECT_EQ(std::vector<int>({two.firstTrack, two.lastTrack, two.trackCount, two.session}),
                  std::vector<int>({13, 13, 1, 2}));

        // A0 names 1 and 13: the disc runs 1..13. Track 12 (POINT 12 hex on the BCD drive)
        // ends at session 1's lead-out, not where track 13 starts.
        EXPECT_EQ(toc.firstTrack, 1);
        EXPECT_EQ(toc.lastTrack, 13);
        std::vector<ExpectedTrack> tracks;
        for (int n = 1; n <= 12; ++n)
            tracks.push_back({Address(0, n + 1, 0), n < 12 ? Address(0, n + 2, 0) : Address(0, 14, 0),
                              static_cast<std::uint8_t>(n), 1, 0, 0, 0});
        tracks.push_back({Address(2, 46, 0), Address(2, 49, 0), 13, 2, 0, 0, 1});
        ExpectTracks(toc, tracks);
        EXPECT_EQ(toc.tracks[13].start, Address(2, 49, 0));
        EXPECT_EQ(toc.leadOut, Address(2, 49, 0));
    }
}

TEST(ScsiReadTocAdvanced, FailsWhenNeitherFormIsAnswered)
{
    Rig rig;
    rig.transport.refuse = [](const std::vector<std::uint8_t>& cdb, std::uint8_t) { return cdb[0] == 0x43; };
    TCdToc toc;
    toc.trackCount = 7;
    EXPECT_FALSE(ReadTocAdvanced(rig.transport, rig.cd, false, toc));
    EXPECT_EQ(rig.transport.sent.size(), 2u);
    EXPECT_EQ(toc.trackCount, 0);
}

// ---- CD-Text ----

TEST(ScsiReadCdText, ProbesTheLengthThenReadsThePacks)
{
    Rig rig;
    std::vector<std::uint8_t> buffer(36868, 0xEE);
    std::size_t length = 0;
    ASSERT_TRUE(ReadCdText(rig.transport, rig.cd, buffer.data(), buffer.size(), length));
    ASSERT_EQ(rig.transport.sent.size(), 2u);
    EXPECT_EQ(rig.transport.sent[0].length, 4u);
    EXPECT_EQ(rig.transport.sent[1].length, length);
    EXPECT_EQ((buffer[0] << 8 | buffer[1]) + 2u, length);
    ASSERT_GT(length, 4u + 3 * 18);
    EXPECT_EQ((length - 4) % 18, 0u);
    EXPECT_EQ(buffer[4], 0x80); // the first pack: titles
    const std::string text(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_NE(text.find("Album"), std::string::npos);
    EXPECT_EQ(buffer[length], 0xEE); // nothing written past the answer
}

TEST(ScsiReadCdText, ShortBufferFailsAfterReportingTheLength)
{
    Rig rig;
    std::size_t needed = 0;
    std::vector<std::uint8_t> probe(36868);
    ASSERT_TRUE(ReadCdText(rig.transport, rig.cd, probe.data(), probe.size(), needed));
    rig.transport.sent.clear();

    std::vector<std::uint8_t> buffer(needed - 1, 0xEE);
    std::size_t length = 0;
    EXPECT_FALSE(ReadCdText(rig.transport, rig.cd, buffer.data(), buffer.size(), length));
    EXPECT_EQ(length, needed);
    EXPECT_EQ(rig.transport.sent.size(), 1u); // the probe only
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xEE; }));

    Rig plain(kAlbum, "no-cdtext=1");
    length = 99;
    EXPECT_FALSE(ReadCdText(plain.transport, plain.cd, buffer.data(), buffer.size(), length));
    EXPECT_EQ(length, 0u);
}

// ---- sectors ----

enum class Sub { None, Q, Raw, Rw };

TEST(ScsiReadSectors, EveryMethodAndSubCodeMode)
{
    struct Case {
        RipMethods method;
        SubCodeModes asked;
        std::uint8_t opcode;
        int code; // byte 10: READ CD selection or READ CDDA sub-code; -1 for READ(10)
        SubCodeModes effective;
        std::uint32_t size;
        Sub sub;
    };
    const Case cases[] = {
        {RipMMC, SubCodeNo, 0xBE, 0, SubCodeNo, 2352, Sub::None},
        {RipMMC, SubCodeQ, 0xBE, 2, SubCodeQ, 2368, Sub::Q},
        {RipMMC, SubCodeRW, 0xBE, 4, SubCodeRW, 2448, Sub::Rw},
        {RipMMC, SubCodeRAW, 0xBE, 1, SubCodeRAW, 2448, Sub::Raw},
        {RipMMCMSF, SubCodeNo, 0xB9, 0, SubCodeNo, 2352, Sub::None},
        {RipMMCMSF, SubCodeQ, 0xB9, 2, SubCodeQ, 2368, Sub::Q},
        {RipMMCMSF, SubCodeRW, 0xB9, 4, SubCodeRW, 2448, Sub::Rw},
        {RipMMCMSF, SubCodeRAW, 0xB9, 1, SubCodeRAW, 2448, Sub::Raw},
        {RipSony, SubCodeNo, 0xD8, 0, SubCodeNo, 2352, Sub::None},
        {RipSony, SubCodeQ, 0xD8, 1, SubCodeQ, 2368, Sub::Q},
        {RipSony, SubCodeRW, 0xD8, 2, SubCodeRW, 2448, Sub::Raw},
        {RipSony, SubCodeRAW, 0xD8, 0, SubCodeNo, 2352, Sub::None}, // not offered
        {RipSonyMSF, SubCodeNo, 0xD9, 0, SubCodeNo, 2352, Sub::None},
        {RipSonyMSF, SubCodeQ, 0xD9, 1, SubCodeQ, 2368, Sub::Q},
        {RipSonyMSF, SubCodeRW, 0xD9, 2, SubCodeRW, 2448, Sub::Raw},
        {RipSonyMSF, SubCodeRAW, 0xD9, 0, SubCodeNo, 2352, Sub::None}, // not offered
        {RipToshiba, SubCodeNo, 0x28, -1, SubCodeNo, 2352, Sub::None},
        {RipToshiba, SubCodeQ, 0x28, -1, SubCodeQ, 2368, Sub::Q},
        {RipToshiba, SubCodeRW, 0x28, -1, SubCodeRW, 2448, Sub::Raw},
        {RipToshiba, SubCodeRAW, 0x28, -1, SubCodeRAW, 2448, Sub::Raw},
        {static_cast<RipMethods>(9), SubCodeQ, 0xBE, 2, SubCodeQ, 2368, Sub::Q}, // reads as RipMMC
        {RipMMC, static_cast<SubCodeModes>(7), 0xBE, 0, SubCodeNo, 2352, Sub::None},
    };
    Rig rig;
    constexpr std::int64_t kStart = Frames(0, 8, 0); // track 2, 00:01:00 after its index 1
    constexpr std::uint32_t kCount = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE("method " + std::to_string(c.method) + ", sub-code " + std::to_string(c.asked));
        const TReadFunction f = ChooseReadFunction(c.method, c.asked);
        EXPECT_EQ(f.subCode, c.effective);
        EXPECT_EQ(f.sectorSize, c.size);
        if (c.method == RipToshiba) {
            ASSERT_TRUE(SetDensity(rig.transport, rig.cd, 0x82, f.sectorSize, 2));
        }

        TKsParagraphBoundaryBuffer buffer(kCount * c.size);
        ASSERT_TRUE(ReadSectors(rig.transport, rig.cd, c.method, c.asked, kStart, kCount, buffer));
        const std::vector<std::uint8_t>& cdb = rig.transport.sent.back().cdb;
        EXPECT_EQ(cdb[0], c.opcode);
        if (c.code >= 0) {
            EXPECT_EQ(cdb[10], c.code);
        }
        if (c.method == RipToshiba) {
            ASSERT_TRUE(SetDensity(rig.transport, rig.cd, 0, 2048, 2));
        }

        const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.Data());
        for (std::uint32_t j = 0; j < kCount; ++j) {
            const std::uint8_t* sector = bytes + j * c.size;
            const std::int64_t frame = kStart + j;
            EXPECT_EQ(SamplePosition(sector), frame * 588);
            EXPECT_EQ(SamplePosition(sector + 2348), frame * 588 + 587);
            // Track 2 (control 1, ADR 1), index 1, 00:01:0j into it, 00:08:0j on the disc.
            const std::vector<std::uint8_t> q = {
                0x11, 0x02, 0x01, 0, 1, Bcd(static_cast<int>(j)), 0, 0, 0x08, Bcd(static_cast<int>(j))};
            const std::uint8_t* sub = sector + 2352;
            switch (c.sub) {
            case Sub::None:
                break;
            case Sub::Q:
                EXPECT_EQ(std::vector<std::uint8_t>(sub, sub + 10), q);
                break;
            case Sub::Raw: {
                const std::vector<std::uint8_t> fromRaw = QFromRaw(sub);
                EXPECT_EQ(std::vector<std::uint8_t>(fromRaw.begin(), fromRaw.begin() + 10), q);
                break;
            }
            case Sub::Rw: // the de-interleaved packs hold six bits a byte, no P or Q
                EXPECT_TRUE(std::all_of(sub, sub + 96, [](std::uint8_t b) { return b < 0x40; }));
                break;
            }
        }
    }
}

TEST(ScsiReadSectors, FailsOnAShortBufferAReadErrorOrAMissingCommand)
{
    Rig rig(kAlbum, "errors=452,families=mmc+msf");
    TKsParagraphBoundaryBuffer small(3 * 2352 - 1);
    EXPECT_FALSE(ReadSectors(rig.transport, rig.cd, RipMMC, SubCodeNo, Frames(0, 8, 0), 3, small));
    EXPECT_TRUE(rig.transport.sent.empty()); // nothing sent that could not be received

    TKsParagraphBoundaryBuffer buffer(3 * 2352);
    EXPECT_FALSE(ReadSectors(rig.transport, rig.cd, RipMMC, SubCodeNo, Frames(0, 8, 0), 3, buffer));
    EXPECT_EQ(rig.transport.lastSense.Key(), 0x03); // medium error at sector 452

    EXPECT_FALSE(ReadSectors(rig.transport, rig.cd, RipSony, SubCodeNo, Frames(0, 4, 0), 3, buffer));
    EXPECT_EQ(rig.transport.lastSense.Key(), 0x05);
    EXPECT_EQ(rig.transport.lastSense.Asc(), 0x20); // the drive has no READ CDDA
}

// ---- Q of one sector ----

TEST(ScsiReadQ, ThreeReadersGiveTheSameRecord)
{
    struct Position {
        const char* name;
        std::int64_t frame;
        TQRecord record;
    };
    const Position positions[] = {
        {"track 1", Frames(0, 2, 10), {0x21, 1, 1, 0, 0, 10, 0, 0, 2, 10}},
        {"track 2 pre-gap, counting down", Frames(0, 6, 50), {0x11, 2, 0, 0, 0, 25, 0, 0, 6, 50}},
        {"track 2 index 2", Frames(0, 9, 25), {0x11, 2, 2, 0, 2, 25, 0, 0, 9, 25}},
        {"lead-out", Frames(0, 17, 2), {0x41, 170, 1, 0, 0, 2, 0, 0, 17, 2}},
    };
    // The second drive reports READ CD's formatted Q in binary, the lead-out as 110.
    for (const char* options : {"overread=10", "overread=10,plextor=1,vendor=Plextor"}) {
        Rig rig(kAlbum, options);
        for (const Position& p : positions)
            for (int method = 1; method <= 3; ++method) {
                SCOPED_TRACE(std::string(options) + ", " + p.name + ", method " + std::to_string(method));
                TQRecord record;
                record.fill(0xEE);
                EXPECT_TRUE(ReadQ(rig.transport, rig.cd, method, p.frame, record));
                EXPECT_EQ(record, p.record);
            }
    }
}

TEST(ScsiReadQ, MethodsOutsideTheThreeSendNothing)
{
    Rig rig;
    TQRecord record;
    EXPECT_FALSE(ReadQ(rig.transport, rig.cd, 0, Frames(0, 2, 0), record));
    EXPECT_FALSE(ReadQ(rig.transport, rig.cd, 4, Frames(0, 2, 0), record));
    EXPECT_TRUE(rig.transport.sent.empty());
}

} // namespace
} // namespace vantrel::test
