// One entry of the track list as the player component sees it: where play starts and
// ends, the titles and disc identifiers it shows, and a cached length with its texts.
// Owned by the track list; the player only references it. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "drive/CdAddress.h"

namespace vantrel {

class TTrackInfo {
public:
    // The length cache: valid while LengthValid is set, filled by the Get... calls.
    std::uint32_t LengthFrames = 0;
    std::uint32_t LengthMin = 0, LengthSec = 0, LengthFrm = 0;
    bool LengthValid = false;
    std::string LengthMsfText; // "mm:ss:ff"
    std::string LengthText;    // "mm:ss"

    std::string CddbIdText;          // 8 hex digits
    std::string CdPlayerIdText;      // hex without leading zeros
    std::string AlbumTitle;          // names the folder of a written WAV file
    std::string Artist;              // of the album for the whole-disc entry
    std::string Title;               // names a written WAV file; "Entire Disc" for the whole-disc entry
    std::string DriveLetter;         // like "E:"
    std::int32_t TrackNumber = 0;    // 100 for the whole-disc entry
    std::uint32_t Session = 0;       // 0 when unknown
    TCdAddress StartAddress;         // where play starts
    TCdAddress EndAddress;           // where play ends, exclusive
    TCdAddress RangeStart, RangeEnd; // how far the user may move start and end
    bool PreEmphasis = false;
    bool Played = false; // set by the player when play of this track starts

    // Each fills the cache first when it is not valid. An end before the start counts as
    // length 0.
    std::uint32_t GetLength();
    const std::string& GetLengthText();
    const std::string& GetLengthMsfText();
    // Call after changing StartAddress or EndAddress.
    void Invalidate() { LengthValid = false; }
    // Takes the identity, titles, drive, number, session, addresses and flags of other;
    // the length is recomputed on the next Get... call.
    void CopyFrom(const TTrackInfo& other);

private:
    void UpdateLength();
};

} // namespace vantrel
