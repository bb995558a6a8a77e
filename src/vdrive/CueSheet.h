// Reads a CUE sheet with its BIN files (and a .sub file beside the image) into a Disc,
// and writes one back. A sheet the drive cannot honour is refused with a message that
// names the file, the line and what is wrong.
#pragma once

#include <string>
#include <string_view>

#include "vdrive/Disc.h"

namespace vantrel::vdrive {

// Reads path; the files it names are looked for beside it.
bool ReadCueSheet(const std::string& path, Disc& disc, std::string& error);
// The same for a sheet given as text; name is used in messages, folder to find files.
bool ReadCueText(std::string_view text, const std::string& name, const std::string& folder, Disc& disc,
                 std::string& error);

}  // namespace vantrel::vdrive
