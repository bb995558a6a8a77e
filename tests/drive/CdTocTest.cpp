#include "drive/CdToc.h"

#include <vector>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

constexpr TCdAddress Msf(int minute, int second, int frame = 0)
{
    return TCdAddress{0, static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second),
                      static_cast<std::uint8_t>(frame)};
}

// A table as READ TOC fills it in the normal form: each end is the next start, and the
// entry after the last track holds the lead-out too.
TCdToc NormalToc(const std::vector<TCdAddress>& starts, TCdAddress leadOut, bool dataLast = false, int firstTrack = 1)
{
    TCdToc toc{};
    const int n = static_cast<int>(starts.size());
    toc.firstTrack = static_cast<std::uint8_t>(firstTrack);
    toc.lastTrack = static_cast<std::uint8_t>(firstTrack + n - 1);
    toc.trackCount = static_cast<std::uint8_t>(n);
    for (int i = 0; i < n; ++i) {
        TCdTrackEntry& track = toc.tracks[i];
        track.start = track.preGapStart = starts[i];
        track.end = track.endBeforeGap = i + 1 < n ? starts[i + 1] : leadOut;
        track.trackNumber = static_cast<std::uint8_t>(firstTrack + i);
    }
    toc.tracks[0].preGapStart = TCdAddress{};
    toc.tracks[n - 1].dataTrack = dataLast ? 1 : 0;
    toc.tracks[n].start = leadOut;
    toc.leadOut = leadOut;
    return toc;
}

// Ninety-nine one-second tracks from 00:02:00 (seconds 2..100), lead-out at 01:42:00.
TCdToc NinetyNineTracks()
{
    std::vector<TCdAddress> starts;
    for (int s = 2; s <= 100; ++s)
        starts.push_back(Msf(s / 60, s % 60));
    return NormalToc(starts, Msf(1, 42));
}

// Audio at sectors 0 and 15000 in session 1 (lead-out 30000), data at 41400 in session 2,
// disc lead-out 50000. Absolute frames are 150 more: 00:02:00, 03:22:00, 06:42:00,
// 09:14:00 and 11:08:50.
TCdToc TwoSessionToc()
{
    TCdToc toc{};
    toc.firstSession = 1;
    toc.lastSession = 2;
    toc.sessionCount = 2;
    toc.sessions[0] = {Msf(0, 2), Msf(6, 42), 1, 2, 2, 1};
    toc.sessions[1] = {Msf(9, 14), Msf(11, 8, 50), 3, 3, 1, 2};
    toc.firstTrack = 1;
    toc.lastTrack = 3;
    toc.trackCount = 3;
    const TCdAddress starts[] = {Msf(0, 2), Msf(3, 22), Msf(9, 14)};
    const TCdAddress ends[] = {Msf(3, 22), Msf(6, 42), Msf(11, 8, 50)};
    for (int i = 0; i < 3; ++i) {
        TCdTrackEntry& track = toc.tracks[i];
        track.start = track.preGapStart = starts[i];
        track.end = track.endBeforeGap = ends[i];
        track.trackNumber = static_cast<std::uint8_t>(i + 1);
        track.session = i < 2 ? 1 : 2;
    }
    toc.tracks[2].dataTrack = 1;
    toc.tracks[3].start = toc.tracks[2].end;
    toc.leadOut = Msf(11, 8, 50);
    return toc;
}

std::string Starts(int from, int step, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += ' ' + std::to_string(from + i * step);
    return text;
}

struct Disc {
    const char* name;
    TCdToc toc;
    TCddbParams expected;
};

// Fields in order: tracks, CD Player id, CDDB id, seconds, query, frames.
std::vector<Disc> Discs()
{
    TCdToc leadOutFieldOnly = NormalToc({Msf(0, 2)}, Msf(3, 0));
    leadOutFieldOnly.tracks[1].start = TCdAddress{};

    return {
        // CDDB: digit sum 2; 180 - 2 = 178 s. CD Player: 0x200 + (13500 - 150).
        {"one track",
         NormalToc({Msf(0, 2)}, Msf(3, 0)),
         {1, 13862, 2u * (1 << 24) + 178 * (1 << 8) + 1, 180, "cddb query 0200b201 1 150 180", ""}},
        // As the CD-audio device fills it: the lead-out only in its own field.
        {"one track, lead-out field only",
         leadOutFieldOnly,
         {1, 13862, 0x0200B201, 180, "cddb query 0200b201 1 150 180", ""}},
        // CDDB: the digit sums of 2..100 are 900, 900 mod 255 = 135 = 0x87; 102 - 2 = 100 s.
        // CD Player: seconds 2..59 in minute 0 give 1769*0x100; 41 tracks in minute 1 give
        // 41*0x10000 + (0+..+40)*0x100 = 0x290000 + 820*0x100; 0x290000 + 2589*0x100 = 0x331D00.
        {"99 tracks",
         NinetyNineTracks(),
         {99, 0x331D00, 0x87006463, 102, "cddb query 87006463 99" + Starts(150, 75, 99) + " 102", ""}},
        // 79:30:10 is frame 357760. CDDB: 2 + (2400 -> 6) = 8; 4770 - 2 = 4768 = 0x12A0 s.
        // CD Player: 0x200 + 0x280000 + (357760 - 150 = 0x574EA).
        {"two tracks over 74 minutes",
         NormalToc({Msf(0, 2), Msf(40, 0)}, Msf(79, 30, 10)),
         {2, 0x2D76EA, 0x0812A002, 4770, "cddb query 0812a002 2 150 180000 4770", ""}},
        // CDDB counts the data track: 2 + (300 -> 3) + (3000 -> 3) = 8; 3600 - 2 = 3598 = 0xE0E.
        // CD Player: 0x200 + 0x50000 + (225000 - 11250 - 150 = 213600).
        {"data track last of three",
         NormalToc({Msf(0, 2), Msf(5, 0), Msf(50, 0)}, Msf(60, 0), true),
         {3, 328192 + 213600, 0x080E0E03, 3600, "cddb query 080e0e03 3 150 22500 225000 3600", ""}},
        // Three audio tracks are summed, so nothing is added. CDDB: 2 + 6 + 3 + 9 = 20; 238 s.
        {"data track last of four",
         NormalToc({Msf(0, 2), Msf(1, 0), Msf(2, 0), Msf(3, 0)}, Msf(4, 0), true),
         {4, 0x200 + 0x10000 + 0x20000, 0x1400EE04, 240, "cddb query 1400ee04 4 150 4500 9000 13500 240", ""}},
        // CDDB: 2 + (202 -> 4) + (554 -> 14) = 20; 668 - 2 = 666 = 0x29A.
        // CD Player: first session only, 0x200 + 0x31600, plus 30150 - 150 + 150 for a second session.
        {"two sessions",
         TwoSessionToc(),
         {3, 0x31800 + 30150, 0x14029A03, 668, "cddb query 14029a03 3 150 15150 41550 668",
          "0,15000,30000(41400),50000"}},
        // Tracks 2 and 3 sit in entries 0 and 1. CDDB: 4 + 6 = 10; 1200 - 4 = 1196 = 0x4AC.
        // CD Player: 0x400 + 0xA0000 + (90000 - 300 = 0x15E64).
        {"first track 2",
         NormalToc({Msf(0, 4), Msf(10, 0)}, Msf(20, 0), false, 2),
         {2, 0xB6264, 0x0A04AC02, 1200, "cddb query 0a04ac02 2 300 45000 1200", ""}},
    };
}

void ExpectParams(const TCddbParams& actual, const TCddbParams& expected, const char* name)
{
    SCOPED_TRACE(name);
    EXPECT_EQ(actual.NumTracks, expected.NumTracks);
    EXPECT_EQ(actual.CdPlayerId, expected.CdPlayerId);
    EXPECT_EQ(actual.CddbId, expected.CddbId);
    EXPECT_EQ(actual.TotalSeconds, expected.TotalSeconds);
    EXPECT_EQ(actual.CddbQuery, expected.CddbQuery);
    EXPECT_EQ(actual.Frames, expected.Frames);
}

TEST(CddbParams, IdentifiersOfKnownDiscs)
{
    for (const Disc& disc : Discs())
        ExpectParams(MakeCddbParams(disc.toc), disc.expected, disc.name);
}

TEST(CddbParams, QueryTakesTheGivenIdentifier)
{
    const TCdToc toc = NormalToc({Msf(0, 2), Msf(1, 0)}, Msf(2, 0));
    EXPECT_EQ(BuildCddbQuery(toc, 0xABCDEF01), "cddb query abcdef01 2 150 4500 120");
    EXPECT_EQ(BuildCddbQuery(toc, 0x1F), "cddb query 0000001f 2 150 4500 120");
}

TEST(CddbParams, FramesTextMarksADataTrackFirst)
{
    // Mixed mode, one session: data at sector 0, audio at 20000 (frame 20150 = 04:28:50),
    // lead-out at 30000 (06:42:00).
    TCdToc toc = NormalToc({Msf(0, 2), Msf(4, 28, 50)}, Msf(6, 42));
    toc.firstSession = toc.lastSession = toc.sessionCount = 1;
    toc.sessions[0] = {toc.tracks[0].start, toc.leadOut, 1, 2, 2, 1};
    toc.tracks[0].dataTrack = 1;
    toc.tracks[0].session = toc.tracks[1].session = 1;
    EXPECT_EQ(BuildFrames(toc), "1(0),20000,30000");

    toc.sessionCount = 0; // the same disc read in the normal form
    EXPECT_EQ(BuildFrames(toc), "");
}

TEST(CddbParams, EmptyTableHasNoIdentifiers)
{
    TCdToc toc{};
    toc.leadOut = Msf(3, 0);
    ExpectParams(MakeCddbParams(toc), {0, 0, 0, 180, "cddb query 00000000 0 180", ""}, "normal form");
    toc.sessionCount = 1;
    toc.sessions[0].trackCount = 5;
    ExpectParams(MakeCddbParams(toc), {0, 0, 0, 180, "cddb query 00000000 0 180", ""}, "advanced form");
}

TEST(CddbParams, HostileTrackCountsStayInsideTheTable)
{
    // The entry after the 99th holds the lead-out: a count of 200 must not sum it (or
    // anything past the entries) into the identifiers.
    const TCdToc ninetyNine = NinetyNineTracks();
    TCdToc hostile = ninetyNine;
    hostile.trackCount = 200;
    ExpectParams(MakeCddbParams(hostile), MakeCddbParams(ninetyNine), "track count 200");

    // A first session claiming 250 tracks of a 3-track table sums the three entries, and,
    // with three summed, adds no length: 0x200 + 0x31600 + (09:14:00 -> 0x90E00).
    TCdToc sessions = TwoSessionToc();
    sessions.sessions[0].trackCount = 250;
    EXPECT_EQ(ComputeCdPlayerId(sessions), 0x200u + 0x31600 + 0x90E00);
}

TEST(CddbParams, IdentifierTexts)
{
    const std::pair<std::uint32_t, const char*> cddb[] = {
        {0x0200B201, "0200B201"}, {0, "00000000"}, {0xABCDEF12, "ABCDEF12"}};
    for (const auto& [id, text] : cddb)
        EXPECT_EQ(CddbIdText(id), text);
    const std::pair<std::uint32_t, const char*> cdPlayer[] = {
        {13862, "3626"}, {0, "0"}, {0xB6264, "B6264"}, {0xFFFFFFFF, "FFFFFFFF"}};
    for (const auto& [id, text] : cdPlayer)
        EXPECT_EQ(CdPlayerIdText(id), text);
}

} // namespace
} // namespace vantrel
