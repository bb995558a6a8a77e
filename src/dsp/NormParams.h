// The normalizer's settings as the player component keeps them and hands them to the
// digital engine: block length, target level, the two compression ratios, the limits of
// amplification and gain, and how the average level is measured.
#pragma once

#include <cstdint>

namespace vantrel {

struct TNormParams {
    bool enabled = false;
    std::uint32_t blockSizeMilli = 10;
    std::uint32_t avgVolume = 60;
    std::uint32_t compRatio1 = 33;
    std::uint32_t compRatio2 = 0;
    std::uint32_t maxComp = 180;
    std::uint32_t gain = 100;
    bool avgVolFromPeak = true;
    std::uint32_t avgVolFromVal = 75;
    friend bool operator==(const TNormParams&, const TNormParams&) = default;
};

}  // namespace vantrel
