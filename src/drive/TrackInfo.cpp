#include "drive/TrackInfo.h"

#include <cstdio>

namespace vantrel {

void TTrackInfo::UpdateLength()
{
    if (LengthValid)
        return;
    const std::int64_t frames = AddressToFrames(EndAddress) - AddressToFrames(StartAddress);
    LengthFrames = frames > 0 ? static_cast<std::uint32_t>(frames) : 0;
    LengthMin = LengthFrames / kFramesPerMinute;
    LengthSec = LengthFrames / kFramesPerSecond % 60;
    LengthFrm = LengthFrames % kFramesPerSecond;

    char text[40];
    std::snprintf(text, sizeof text, "%.2u:%.2u:%.2u", LengthMin, LengthSec, LengthFrm);
    LengthMsfText = text;
    std::snprintf(text, sizeof text, "%.2u:%.2u", LengthMin, LengthSec);
    LengthText = text;
    LengthValid = true;
}

std::uint32_t TTrackInfo::GetLength()
{
    UpdateLength();
    return LengthFrames;
}

const std::string& TTrackInfo::GetLengthText()
{
    UpdateLength();
    return LengthText;
}

const std::string& TTrackInfo::GetLengthMsfText()
{
    UpdateLength();
    return LengthMsfText;
}

void TTrackInfo::CopyFrom(const TTrackInfo& other)
{
    CddbIdText = other.CddbIdText;
    CdPlayerIdText = other.CdPlayerIdText;
    AlbumTitle = other.AlbumTitle;
    Artist = other.Artist;
    Title = other.Title;
    DriveLetter = other.DriveLetter;
    TrackNumber = other.TrackNumber;
    Session = other.Session;
    StartAddress = other.StartAddress;
    EndAddress = other.EndAddress;
    RangeStart = other.RangeStart;
    RangeEnd = other.RangeEnd;
    PreEmphasis = other.PreEmphasis;
    Played = other.Played;
    LengthValid = false;
}

} // namespace vantrel
