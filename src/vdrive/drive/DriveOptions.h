// The personality and faults of one emulated drive, read from an option string of
// `key=value` pairs separated by commas ("jitter=4,seed=7,families=mmc+sony"), the same
// string in tests, the settings and on the command line. Plain values, no behaviour.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::vdrive {

// The read command families a drive may answer (bits of DriveOptions::families).
namespace family {
inline constexpr unsigned kMmc = 1;     // READ CD (BE)
inline constexpr unsigned kMsf = 2;     // READ CD MSF (B9)
inline constexpr unsigned kSony = 4;    // READ CDDA and READ CDDA MSF (D8, D9)
inline constexpr unsigned kToshiba = 8; // density 82 hex through MODE SELECT, then READ(10)
inline constexpr unsigned kDf = 16;     // the sub-code vendor command (DF)
inline constexpr unsigned kAll = kMmc | kMsf | kSony | kToshiba | kDf;
} // namespace family

struct DriveOptions {
    int jitter = 0;                   // jitter: each read starts up to this many samples early or late
    std::uint64_t seed = 1;           // seed: of the jitter offsets
    std::vector<std::int64_t> errors; // errors: sectors that fail to read (sorted, no repeats)
    int delayMs = 0;                  // delay: added to every read command
    unsigned families = family::kAll; // families
    std::string vendor = "VANTREL";   // vendor, product, revision: INQUIRY texts
    std::string product = "VIRTUAL CD-ROM";
    std::string revision = "1.0";
    int ansi = 2;                                                  // ansi: 0 for an ATAPI drive
    bool bcdFullToc = false;                                       // bcd
    bool plextorQ = false;                                         // plextor
    bool ignoreSpeed = false;                                      // ignore-speed
    std::vector<int> speeds = {706, 1411, 2822, 4234, 5645, 7056}; // speeds: kB/s, ascending
    bool noCdText = false;                                         // no-cdtext
    double clock = 1.0;                                            // clock: analog play speed-up
    std::int64_t trayOpenAt = -1;                                  // tray-open-at: sector, -1 for never
    int overread = 0;                                              // overread: lead-out sectors readable
};

// Fills options from text, starting from the values already in it; empty text changes
// nothing. False with a message naming the key for an unknown key or a bad value (options
// may then be partly changed). Spaces around keys and values are ignored; a boolean key
// may stand alone ("bcd" is "bcd=1").
bool ParseDriveOptions(std::string_view text, DriveOptions& options, std::string& error);

} // namespace vantrel::vdrive
