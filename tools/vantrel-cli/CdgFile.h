// The CD+G side of a rip: which sub-channel read brings the packs, collecting what the
// player component hands over while a track plays, lining the packs up with the track's
// audio and writing them beside the WAV file as a .cdg file (24 bytes a pack, 4 packs a
// sector, the form karaoke players read).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cdg/CdgBuffer.h"
#include "drive/KsCdRom.h"
#include "drive/ReadModes.h"
#include "drive/ScsiTransport.h"

namespace vantrel {
class TKsCdPlayer;
}

namespace vantrel::cli {

// A de-interleaving delay line (the drive's for R-W, the player's for raw P-W) puts each pack
// out as the 8th pack after the place where its first symbol lies on the disc, which is the
// place the disc's encoder gave it beside the audio. So a play's packs lag the track's by 7:
// the first 7 belong before the track (or, raw, are what the empty delay line made of them),
// and the track's last 7 come out only after the track's last sector.
inline constexpr std::size_t kCdgLagPacks = 7;
using CdgTail = std::array<std::uint8_t, kCdgLagPacks * kCdgPackBytes>;

// How the packs of one track came out.
struct CdgTrackReport {
    std::int64_t delivered = 0; // packs the play handed over
    std::int64_t expected = 0;  // packs it should have: 4 x the sectors it read
    bool tailLost = false;      // the track's last 7 packs could not be read after the play
    std::int64_t Padded() const { return expected > delivered ? expected - delivered : 0; }
    std::int64_t Cut() const { return delivered > expected ? delivered - expected : 0; }
};

// What a report line adds about the packs: nothing when all went as it should, else
// "  (...)" with the empty packs added or the packs cut, and a lost tail.
std::string CdgReportNote(const CdgTrackReport& report);

// True when the method's read in that sub-code mode brings packs the player can use.
// Only READ CD's R-W selection hands R-W out de-interleaved; READ CDDA's sub-code 2 and
// READ(10) at 2448 bytes give P-W as it lies on the disc, which SubCodeRW would pass on as
// if de-interleaved, and READ CDDA has no raw mode at all.
bool MethodDeliversCdg(RipMethods method, SubCodeModes mode);

// Turns the packs a play handed over (in packs, 24 bytes each) into the track's packs.
// playSectors: the sectors the play read; trackSectors: the track's (the file holds
// 4 x trackSectors packs; the play may read one sector more when the offset is not whole
// sectors). The first 7 packs are dropped and the track's last 7 come from tail, read after
// the play, or are empty packs without it. A play that handed over too few or too many packs
// is padded with empty packs or cut at the end; the report says by how many.
CdgTrackReport LineUpCdgPacks(std::vector<std::uint8_t>& packs, std::int64_t playSectors, std::int64_t trackSectors,
                              const std::optional<CdgTail>& tail);

// Writes bytes to path through a temporary file beside it, flushed and renamed over path
// only once all of it is written, so that path never holds half a file. False with a
// message otherwise; nothing is left behind then.
bool WriteFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error);

// The CD+G packs of the tracks one rip plays. Belongs to the thread that owns the player
// component; Take is called from its OnCdgRead on that thread.
class CdgRip {
public:
    // Picks the sub-code mode (SubCodeNo: raw when the method offers it, else R-W), checks
    // it against the read method and the drive's capabilities page, and sets the player up
    // to hand packs over: CD+G on, packs re-synchronised over the read overlap, raw packs
    // Reed-Solomon corrected. False with a message when no CD+G can come that way.
    bool Setup(TKsCdPlayer& player, int index, IScsiTransport& transport, const TKsCdRom& drive, SubCodeModes wanted,
               std::string& error);

    // Before each track plays: its start and end (absolute frames) and the read offset.
    void BeginTrack(std::int64_t startFrame, std::int64_t endFrame, std::int32_t offsetSamples);
    // Moves the packs waiting in the player's buffer to this track's.
    void Take(TCdgBuffer& buffer);
    // After the track's play ended: takes what still waits in buffer, lines the packs up and
    // writes them beside the WAV file (same name, extension .cdg). False with a message when
    // the file cannot be written.
    bool FinishTrack(TCdgBuffer& buffer, const std::string& wavFile, std::string& cdgFile, CdgTrackReport& report,
                     std::string& error);

private:
    std::optional<CdgTail> ReadTail() const;

    IScsiTransport* transport_ = nullptr;
    const TKsCdRom* drive_ = nullptr;
    RipMethods method_ = RipMMC;
    int modeCmdType_ = 0;
    SubCodeModes mode_ = SubCodeNo;
    std::int64_t firstFrame_ = 0, lastFrame_ = 0, trackSectors_ = 0; // the play reads [first, last)
    std::vector<std::uint8_t> packs_;
};

} // namespace vantrel::cli
