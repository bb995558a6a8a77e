// How a drive is asked for audio: the read command family, the sub-channel read beside
// the audio, and the stereo modes the drive's audio control page and the signal chain
// offer. Shared by the SCSI command set and the player component.
#pragma once

#include <cstdint>

namespace vantrel {

enum RipMethods : std::uint8_t { RipMMC = 0, RipMMCMSF = 1, RipSony = 2, RipSonyMSF = 3, RipToshiba = 4 };
enum SubCodeModes : std::uint8_t { SubCodeNo = 0, SubCodeQ = 1, SubCodeRW = 2, SubCodeRAW = 3 };
// The player's exported enumeration, the value of SetStereoMode.
enum StereoModes : std::uint8_t {
    smStereo = 0, // unchanged
    smLeft = 1,   // R := L
    smRight = 2,  // L := R
    smMix = 3,    // L := R := (L + R) / 2
    smSide = 4,   // L := R := (L - R) / 2
};

}  // namespace vantrel
