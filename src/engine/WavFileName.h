// Where digital play writes a track as a WAV file: root / album / title.wav, numbered
// -01 .. -99 when the name is taken. Titles are made safe for file names, and no title
// can lead the file outside the root folder.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Builds the name and creates the folders it needs (an existing folder is no error).
std::string MakeWavFileName(std::string_view root, std::string_view album, std::string_view title);

// A title as a relative path: reserved characters and "\" replaced by "-", empty, "."
// and ".." components dropped, "/" separating the rest.
std::string SafeRelativePath(std::string_view text);

} // namespace vantrel
