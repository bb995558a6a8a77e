#include "drive/TrackInfo.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

constexpr TCdAddress Msf(int minute, int second, int frame)
{
    return TCdAddress{0, static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second),
                      static_cast<std::uint8_t>(frame)};
}

TTrackInfo Track(TCdAddress start, TCdAddress end)
{
    TTrackInfo track;
    track.StartAddress = start;
    track.EndAddress = end;
    return track;
}

TEST(TrackInfo, LengthAndItsTexts)
{
    struct Case {
        TCdAddress start, end;
        std::uint32_t frames, min, sec, frm;
        const char* msf;
        const char* text;
    };
    const Case cases[] = {
        {Msf(0, 2, 0), Msf(3, 0, 0), 13350, 2, 58, 0, "02:58:00", "02:58"},
        {Msf(0, 0, 0), Msf(0, 0, 74), 74, 0, 0, 74, "00:00:74", "00:00"},
        {Msf(10, 59, 70), Msf(11, 0, 5), 10, 0, 0, 10, "00:00:10", "00:00"}, // across a minute
        {Msf(0, 0, 0), Msf(255, 59, 74), 1151999, 255, 59, 74, "255:59:74", "255:59"},
        {Msf(5, 0, 0), Msf(5, 0, 0), 0, 0, 0, 0, "00:00:00", "00:00"},
        {Msf(1, 0, 10), Msf(1, 0, 9), 0, 0, 0, 0, "00:00:00", "00:00"}, // end before start
        {Msf(60, 0, 0), Msf(0, 2, 0), 0, 0, 0, 0, "00:00:00", "00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msf);
        TTrackInfo track = Track(c.start, c.end);
        EXPECT_EQ(track.GetLength(), c.frames);
        EXPECT_TRUE(track.LengthValid);
        EXPECT_EQ(track.LengthMin, c.min);
        EXPECT_EQ(track.LengthSec, c.sec);
        EXPECT_EQ(track.LengthFrm, c.frm);
        EXPECT_EQ(track.GetLengthMsfText(), c.msf);
        EXPECT_EQ(track.GetLengthText(), c.text);
    }
}

TEST(TrackInfo, EachGetterFillsTheCacheAndInvalidateRefreshesIt)
{
    TTrackInfo byText = Track(Msf(0, 2, 0), Msf(0, 12, 0));
    EXPECT_EQ(byText.GetLengthText(), "00:10");
    EXPECT_EQ(byText.LengthFrames, 750u);
    TTrackInfo byMsf = Track(Msf(0, 2, 0), Msf(0, 12, 0));
    EXPECT_EQ(byMsf.GetLengthMsfText(), "00:10:00");
    EXPECT_EQ(byMsf.LengthText, "00:10");

    // A moved end is seen only after Invalidate: the cached length stays until then.
    byText.EndAddress = Msf(1, 2, 0);
    EXPECT_EQ(byText.GetLength(), 750u);
    byText.Invalidate();
    EXPECT_EQ(byText.GetLength(), 4500u);
    EXPECT_EQ(byText.GetLengthText(), "01:00");
    EXPECT_EQ(byText.GetLengthMsfText(), "01:00:00");
}

TEST(TrackInfo, CopyFromTakesIdentityAndPositionsButRecomputesTheLength)
{
    TTrackInfo source = Track(Msf(0, 2, 0), Msf(4, 2, 0));
    source.CddbIdText = "0200B201";
    source.CdPlayerIdText = "3626";
    source.AlbumTitle = "Album";
    source.Artist = "Artist";
    source.Title = "Title";
    source.DriveLetter = "E:";
    source.TrackNumber = 7;
    source.Session = 2;
    source.RangeStart = Msf(0, 1, 0);
    source.RangeEnd = Msf(4, 3, 0);
    source.PreEmphasis = true;
    source.Played = true;
    // The source's cache is stale: it must not travel with the copy.
    source.LengthValid = true;
    source.LengthFrames = 1;
    source.LengthText = "stale";

    TTrackInfo copy = Track(Msf(0, 2, 0), Msf(0, 3, 0));
    EXPECT_EQ(copy.GetLength(), 75u);
    copy.CopyFrom(source);

    EXPECT_EQ(copy.CddbIdText, "0200B201");
    EXPECT_EQ(copy.CdPlayerIdText, "3626");
    EXPECT_EQ(copy.AlbumTitle, "Album");
    EXPECT_EQ(copy.Artist, "Artist");
    EXPECT_EQ(copy.Title, "Title");
    EXPECT_EQ(copy.DriveLetter, "E:");
    EXPECT_EQ(copy.TrackNumber, 7);
    EXPECT_EQ(copy.Session, 2u);
    EXPECT_EQ(copy.StartAddress, Msf(0, 2, 0));
    EXPECT_EQ(copy.EndAddress, Msf(4, 2, 0));
    EXPECT_EQ(copy.RangeStart, Msf(0, 1, 0));
    EXPECT_EQ(copy.RangeEnd, Msf(4, 3, 0));
    EXPECT_TRUE(copy.PreEmphasis);
    EXPECT_TRUE(copy.Played);
    EXPECT_FALSE(copy.LengthValid);
    EXPECT_EQ(copy.GetLength(), 18000u);
    EXPECT_EQ(copy.GetLengthText(), "04:00");
}

} // namespace
} // namespace vantrel
