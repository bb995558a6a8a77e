// The table of contents of a disc in one fixed 3616-byte layout that every way of reading
// it fills (READ TOC in normal and advanced form, the CD-audio device, the manual
// analysis), and the disc identifiers the disc databases are keyed by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drive/CdAddress.h"

namespace vantrel {

// One session of a multi-session disc (advanced form only).
struct TCdSession {
    TCdAddress start;   // start of the session's first track
    TCdAddress leadOut; // the session's lead-out
    std::uint8_t firstTrack = 0, lastTrack = 0, trackCount = 0, session = 0;
};
static_assert(sizeof(TCdSession) == 12 && offsetof(TCdSession, firstTrack) == 8);

struct TCdTrackEntry {
    TCdAddress start;        // index 1
    TCdAddress end;          // the next track's start, or the session's lead-out for its last track
    TCdAddress preGapStart;  // index 0; 00:00:00 for the first entry until pre-gaps are analysed
    TCdAddress endBeforeGap; // where the following pre-gap begins
    std::uint8_t trackNumber = 0;
    std::uint8_t session = 0; // advanced form only, else 0
    std::uint8_t reserved[2] = {};
    // Control bits 0..3, taken from a descriptor only when its ADR is 1.
    std::uint8_t preEmphasis = 0, copyPermitted = 0, dataTrack = 0, fourChannel = 0;
};
static_assert(sizeof(TCdTrackEntry) == 24);
static_assert(offsetof(TCdTrackEntry, trackNumber) == 16 && offsetof(TCdTrackEntry, preEmphasis) == 20);

// Entry i is the (i+1)-th track, whatever its number. When the table came over SCSI, the
// entry after the last track holds the lead-out in its start (normal form) or a copy of
// the last track's end (advanced form). sessionCount is 0 for the normal form.
struct TCdToc {
    std::uint8_t firstSession = 0, lastSession = 0, sessionCount = 0, reserved0 = 0;
    TCdSession sessions[100] = {};
    std::uint8_t firstTrack = 0, lastTrack = 0, trackCount = 0, reserved1 = 0;
    TCdTrackEntry tracks[100] = {};
    TCdAddress leadOut;
    std::uint32_t reserved2 = 0;
};
static_assert(sizeof(TCdToc) == 3616);
static_assert(offsetof(TCdToc, sessions) == 4);
static_assert(offsetof(TCdToc, firstTrack) == 1204);
static_assert(offsetof(TCdToc, tracks) == 1208);
static_assert(offsetof(TCdToc, leadOut) == 3608);

// The identification of a disc as the databases and the track list use it.
struct TCddbParams {
    std::uint32_t NumTracks = 0, CdPlayerId = 0, CddbId = 0, TotalSeconds = 0;
    std::string CddbQuery, Frames;
};

// A disc holds at most 99 tracks. The count in a table comes from a drive or an image
// file, so every helper below takes min(trackCount, 99) tracks (and a session's count no
// higher than that): a hostile count never reads past the entries, and one entry is
// always left for the lead-out copy after the last track.
inline constexpr int kMaxTracks = 99;
int TocTrackCount(const TCdToc& toc);

// (sum of the digit sums of each track start's seconds mod 255)*2^24 + disc seconds*2^8 +
// track count, computed modulo 2^32. 0 for a table without tracks.
std::uint32_t ComputeCddbId(const TCdToc& toc);
// The Windows CD Player disc identifier; 0 for a table without tracks.
std::uint32_t ComputeCdPlayerId(const TCdToc& toc);
// Lead-out minute*60 + second: counted from absolute time 0, so the 2 s before the first track are in.
std::uint32_t TotalSeconds(const TCdToc& toc);
// "cddb query <8 lower-case hex digits> <tracks> <start frame>... <total seconds>".
std::string BuildCddbQuery(const TCdToc& toc, std::uint32_t cddbId);
// The track start sectors of a multi-session disc, with "end(start)" where a session
// begins, then the lead-out sector; empty for a table read in the normal form.
std::string BuildFrames(const TCdToc& toc);
TCddbParams MakeCddbParams(const TCdToc& toc);

std::string CddbIdText(std::uint32_t id);     // 8 upper-case hex digits
std::string CdPlayerIdText(std::uint32_t id); // upper-case hex without leading zeros

} // namespace vantrel
