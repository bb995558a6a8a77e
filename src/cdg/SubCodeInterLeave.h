// Undoes the interleaving of CD+G packs in sub-channels R-W: the symbols of one pack reach
// the reader spread over eight consecutive packs, and a delay line of the last eight packs
// puts each one back. One object per stream, used by the reading thread alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "cdg/CdgBuffer.h"

namespace vantrel {

class TSubCodeInterLeave {
public:
    // Empties the delay line: at the start of every play and after every seek.
    void ResetDelayLine();
    // De-interleaves n consecutive packs (n x 24 bytes) in place, one after another. A pack
    // comes out 7 packs after its first symbol went in, so right after a reset the first 7
    // packs hold zeros from the empty delay line where they draw on packs not yet seen.
    void DeInterleave(std::uint8_t* packs, std::size_t n);

private:
    using TPack = std::array<std::uint8_t, kCdgPackBytes>;
    std::array<TPack, 8> delayLine_{}; // slot 0 the newest pack
};

} // namespace vantrel
