// How a drive is asked for audio: the read command family, the sub-channel read beside
// the audio, and the stereo modes the drive's audio control page and the signal chain
// offer. Shared by the SCSI command set and the player component.
#pragma once

#include <cstdint>

namespace vantrel {

enum RipMethods : std::uint8_t { RipMMC = 0, RipMMCMSF = 1, RipSony = 2, RipSonyMSF = 3, RipToshiba = 4 };
enum SubCodeModes : std::uint8_t { SubCodeNo = 0, SubCodeQ = 1, SubCodeRW = 2, SubCodeRAW = 3 };
enum StereoModes : std::uint8_t { smStereo = 0, smLeft = 1, smRight = 2, smMix = 3, smSide = 4 };

}  // namespace vantrel
