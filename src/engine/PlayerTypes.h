// The player's enumerations and the small value rules around them: play modes, read
// commands, sub-channel modes, stereo modes, thread priorities and the codes by which
// the playback engines report back to the player component.
#pragma once

#include <cstdint>

#include "digital/EngineNotify.h"
#include "drive/ReadModes.h"
#include "drive/ScsiTransport.h"

namespace vantrel {

enum PlayModes : std::uint8_t { pmNone = 0, pmMci = 1, pmAnalog = 2, pmDigital = 3 };
enum PlayPriorities : std::int8_t {
    ppLowest = -2,
    ppBelowNormal = -1,
    ppNormal = 0,
    ppAboveNormal = 1,
    ppHighest = 2,
    ppTimeCritical = 3,
};

// A priority is stored as the thread priority it stands for: time critical is 15.
constexpr std::int32_t PriorityToThreadPriority(PlayPriorities p)
{
    return p == ppTimeCritical ? 15 : static_cast<std::int32_t>(p);
}
// Back from a stored thread priority; any unknown number reads as the byte 15.
constexpr std::uint8_t ThreadPriorityToPriority(std::int32_t stored)
{
    switch (stored) {
    case -2:
    case -1:
    case 0:
    case 1:
    case 2:
        return static_cast<std::uint8_t>(static_cast<std::int8_t>(stored));
    case 15:
        return static_cast<std::uint8_t>(ppTimeCritical);
    default:
        return 15;
    }
}

// Speed codes the player accepts: -2 (1/2x), -1 (2/3x), 0 (1x), 1 (1.5x), 2..10 (that
// many times), 255 random, 4095 free ratio.
inline constexpr int kSpeedRandom = 255;
inline constexpr int kSpeedFree = 4095;
constexpr bool IsSpeedCode(int code)
{
    return (code >= -2 && code <= 10) || code == kSpeedRandom || code == kSpeedFree;
}

} // namespace vantrel
