// Our side of the rip benchmark: every audio track of an image ripped through the player
// component into outFolder, then each WAV file checked sample for sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::bench {

struct RipCheck {
    bool ripped = false;      // every track was written
    bool continuous = false;  // every sample follows the one before it on the disc
    bool exact = false;       // and the first one is the track's first
    std::int64_t shift = 0;   // samples the output starts late (negative: early)
};

// How a run of decoded sample positions relates to the disc: every sample the disc's
// next one, from a start `shift` samples off the expected one, silence only at the edges
// and no more of it than the shift explains.
struct SampleRun {
    bool continuous = false;
    std::int64_t shift = 0;
};
SampleRun CheckRun(const std::vector<std::int64_t>& positions, std::int64_t expectedFirst);

// Rips every track, then checks each WAV file sample for sample against the image.
RipCheck RipWithPlayer(const std::string& image, const std::string& driveOptions, const std::string& outFolder);

}  // namespace vantrel::bench
