// Reads a CloneCD image (.ccd table of contents, .img sectors, optional .sub) into a
// Disc. The .img holds every sector from sector 0 on, except the area between two
// sessions (the lead-out and the next lead-in), which no drive can read anyway.
#pragma once

#include <string>
#include <string_view>

#include "vdrive/Disc.h"

namespace vantrel::vdrive {

bool ReadCloneCd(const std::string& ccdPath, Disc& disc, std::string& error);
// The same for the .ccd given as text; the .img and .sub are looked for as imagePath
// with those extensions.
bool ReadCloneCdText(std::string_view text, const std::string& name, const std::string& imageBase, Disc& disc,
                     std::string& error);

// Reads whichever image format path names (.cue or .ccd).
bool ReadDiscImage(const std::string& path, Disc& disc, std::string& error);

}  // namespace vantrel::vdrive
