// Our side of the rip benchmark: every audio track of an image ripped through the player
// component into outFolder, then each WAV file checked sample for sample.
#pragma once

#include <string>

namespace vantrel::bench {

// True when every track was ripped and every WAV sample is the image's.
bool RipWithPlayer(const std::string& image, const std::string& driveOptions, const std::string& outFolder);

}  // namespace vantrel::bench
