// The stereo mode: leaves the stereo image as it is or replaces both channels of each chunk
// by one mono signal (left, right, their average or half their difference), in place and in
// the internal sample type. Runs after the volume and before the speed changer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "drive/ReadModes.h" // StereoModes, the player's enumeration
#include "dsp/SignalStage.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// Integers halve with an arithmetic shift (toward minus infinity) on a sum wide enough not
// to overflow, floats multiply by 0.5; the result is clipped to the type's range, which only
// wdInt24 can reach (wdInt24In32 is not limited). wdInt8 averages the raw unsigned bytes, and
// its difference is the signed difference of the bytes, halved, plus 128.
//
// Threads: the player hands a new mode to the playback thread between chunks; SetMode may
// still come from any thread and then applies from the next chunk on. Init and Process
// follow TChunkStage.
class TStereoChanger final : public TChunkStage {
public:
    // A routine writes the mono mix of frames frames into both channel buffers.
    using TRoutine = void (*)(void* left, void* right, std::size_t frames);
    struct TRoutines {
        TRoutine mix;  // smMix
        TRoutine side; // smSide
    };

    // smStereo .. smSide; false, and the mode unchanged, for any other value.
    bool SetMode(int mode);
    StereoModes GetMode() const { return static_cast<StereoModes>(mode_.load(std::memory_order_relaxed)); }

    // False, and no routine, for a code outside 0 to 8. The rate does not matter here.
    bool Init(TWaveDataType dataType, int sampleRate) override;
    // Nothing happens in smStereo or without a routine.
    void Process(void* const* channels, std::size_t frames) override;

    TWaveDataType GetDataType() const { return dataType_; }

private:
    std::atomic<std::uint8_t> mode_{smStereo};
    TWaveDataType dataType_ = wdInt16;
    const TRoutines* routines_ = nullptr;
    std::size_t sampleBytes_ = 0;
};

} // namespace vantrel
