// The disc the digital play tests rip: three tracks of ten seconds of counter audio at
// sectors 0, 750 and 1500, CD+G graphics on the middle one. The middle track is the one
// played, so that a read the drive starts early or late still finds counter audio on
// either side of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::testing {

constexpr std::int64_t kSamples = 588; // per sector
constexpr const char* kThreeTracks = "disc sub=raw\n"
                                     "track length=00:10:00\n"
                                     "track length=00:10:00 cdg=1\n"
                                     "track length=00:10:00\n";
constexpr std::int64_t kStart = 750, kEnd = 1500; // sectors of track 2
// Its first sample and one past its last as disc positions, which counter samples name.
constexpr std::int64_t kFirstSample = (kStart + 150) * kSamples, kEndSample = (kEnd + 150) * kSamples;
constexpr std::size_t kTrackSamples = static_cast<std::size_t>(kEndSample - kFirstSample);

} // namespace vantrel::testing
