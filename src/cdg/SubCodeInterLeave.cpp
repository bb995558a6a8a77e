#include "cdg/SubCodeInterLeave.h"

#include <algorithm>

namespace vantrel {
namespace {

// Output symbol k is symbol kSource[k] of the pack kDelay[k] packs old. Symbols 1/18, 2/5
// and 3/23 trade places on the disc so that the four symbols of the Q check travel in four
// different packs; every symbol waits 7 - (its position on the disc) % 8 packs.
constexpr std::array<std::uint8_t, kCdgPackBytes> kSource = {0,  18, 5,  23, 4,  2,  6, 7,  8,  9,  10, 11,
                                                             12, 13, 14, 15, 16, 17, 1, 19, 20, 21, 22, 3};
constexpr std::array<std::uint8_t, kCdgPackBytes> kDelay = {7, 5, 2, 0, 3, 5, 1, 0, 7, 6, 5, 4,
                                                            3, 2, 1, 0, 7, 6, 6, 4, 3, 2, 1, 4};

} // namespace

void TSubCodeInterLeave::ResetDelayLine()
{
    delayLine_ = {};
}

void TSubCodeInterLeave::DeInterleave(std::uint8_t* packs, std::size_t n)
{
    for (std::size_t p = 0; p < n; ++p) {
        std::uint8_t* pack = packs + p * kCdgPackBytes;
        std::copy_n(pack, kCdgPackBytes, delayLine_[0].begin());
        for (std::size_t k = 0; k < kCdgPackBytes; ++k)
            pack[k] = delayLine_[kDelay[k]][kSource[k]];
        // Slot 0 is overwritten by the next pack, so the shift moves slots 0..6 up by one.
        std::copy_backward(delayLine_.begin(), delayLine_.end() - 1, delayLine_.end());
    }
}

} // namespace vantrel
