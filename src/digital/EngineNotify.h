// How the playback engines report to the player component: a notification function
// called on the engine's own thread with a code and one parameter.
#pragma once

#include <cstdint>

namespace vantrel {

enum EngineNotify : int {
    dnError = 0,
    dnEnd = 10,
    dnPosition = 11,    // param: frames from the track start
    dnRunning = 12,
    dnCdgCount = 13,    // param: number of packs about to be handed over
    dnCdgPacks = 14,    // param: address of the packs
    dnCdgClear = 15,
    dnSpeedRatio = 16,  // param: address of a 32-bit float
    dnDirection = 17,   // param: non-zero for reverse
};

using TDcdNotify = void (*)(int code, std::intptr_t param, void* context);

}  // namespace vantrel
