// The digital volume: scales the left and the right channel of each chunk by their own gain,
// in place and in the internal sample type. Runs after de-emphasis and before the stereo
// mode; the player turns its 16 volume steps per channel into the two gains.
#pragma once

#include <atomic>
#include <cstddef>

#include "dsp/SignalStage.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// Per sample s with gain g: the product is taken in 32-bit float (in double for wdFloat64
// and wdFloat64S16), truncated toward zero and clipped to the type's range (wdInt24 and
// wdInt32 saturate at +-2^31 of the 32-bit value, wdInt24 keeping its top 3 bytes;
// wdInt24In32 is only kept inside its 32-bit container). No ramping: a new gain applies
// from the next chunk on. A channel whose gain is exactly 1.0 is left untouched, bit for bit.
//
// Threads: SetVolume may be called from any thread at any time, also while the playback
// thread runs Process, which reads each gain once at its start (a chunk may see one old and
// one new gain). Init and Process follow TChunkStage.
class TVolumeChanger final : public TChunkStage {
public:
    // A routine scales count samples of one channel buffer by gain.
    using TRoutine = void (*)(void* samples, std::size_t count, double gain);

    // Linear factors; 1.0 leaves the channel as it is.
    void SetVolume(double gainLeft, double gainRight);
    double GetVolumeLeft() const { return gainLeft_.load(std::memory_order_relaxed); }
    double GetVolumeRight() const { return gainRight_.load(std::memory_order_relaxed); }

    // False, and no routine, for a code outside 0 to 8. The rate does not matter here.
    bool Init(TWaveDataType dataType, int sampleRate) override;
    // Nothing happens without a routine or when both gains are exactly 1.0.
    void Process(void* const* channels, std::size_t frames) override;

    TWaveDataType GetDataType() const { return dataType_; }

private:
    std::atomic<double> gainLeft_{1.0};
    std::atomic<double> gainRight_{1.0};
    TWaveDataType dataType_ = wdInt16;
    TRoutine routine_ = nullptr;
};

} // namespace vantrel
