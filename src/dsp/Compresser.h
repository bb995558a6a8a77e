// The normalizer: evens out loudness by cutting each output block into short sub-blocks and
// giving each one gain that pulls its level toward a target, compressing what lies above and
// raising what lies below, the latter by at most a maximum amplification. No memory between sub-blocks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/SignalStage.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// Per sub-block of b frames (the last one of a block takes what remains), over its 2b samples:
//   level L: the peak magnitude; or, measuring by average, the mean magnitude of the
//            trunc(2b * topShare) largest samples (at least 1, at most all of them)
//   target T = avgVolume * the type's full scale
//   gain g:  1 for silence; above the target (T + (L - T) * ratio1) / L; below it
//            (L + (T - L) * ratio2) / L, at most maxAmp; then times gain
// Integer types measure in integers (a mean truncates) and apply g as sample * g in 32-bit
// float, truncating toward zero and limiting to the type's range (wdInt24In32 only to its
// container); floats are multiplied. Level, target and gain are 32-bit floats.
//
// Threads: Init and Process belong to the playback thread (Init before it runs); SetParams
// and SetEnabled may come from the user-interface thread during play. No lock is taken: each
// value is read once per sub-block, so a sub-block may see a mixture of old and new values.
class TCompresser : public TBlockStage {
public:
    TCompresser(); // 50 ms, target 0.6, ratios 1/3, max amplification 1.8, gain 1, by peak

    // Percentages of the player's settings divided by 100; blockMs gives the sub-block length
    // (at least one frame).
    void SetParams(int blockMs, float avgVolume, float ratio1, float ratio2, float maxAmp, float gain, bool avgFromPeak,
                   float topShare);
    void SetEnabled(bool on) { enabled_.store(on, std::memory_order_relaxed); }

    // Stores the rate (the sub-block length follows) and picks the routine for the type; false,
    // and no routine, for codes outside 0..8.
    bool Init(TWaveDataType dataType, int sampleRate) override;
    // In place; nothing happens when disabled or without a routine.
    void Process(void* const* channels, std::size_t frames) override;

    bool IsEnabled() const { return enabled_.load(std::memory_order_relaxed); }
    int GetBlockFrames() const { return blockFrames_.load(std::memory_order_relaxed); }
    int GetBlockMs() const { return blockMs_.load(std::memory_order_relaxed); }
    int GetSampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    TWaveDataType GetDataType() const { return dataType_; }
    // The level that avgVolume 1.0 aims at: 127 (wdInt8, on byte - 128), 32767, 8388607
    // (both 24-bit types), 2^31, 1.0 (unit-scale floats), 32767 (16-bit-scale floats);
    // 0 for other codes.
    static float FullScale(TWaveDataType type);

private:
    struct TSettings {
        int blockFrames;
        float avgVolume, ratio1, ratio2, maxAmp, gain;
        bool avgFromPeak;
        float topShare;
    };
    using TRoutine = void (TCompresser::*)(void* const*, std::size_t);
    template <TWaveDataType T> void Run(void* const* channels, std::size_t frames);
    TSettings Settings() const;
    float GainFor(float level, const TSettings& s) const;
    void UpdateBlockFrames();

    std::atomic<int> sampleRate_{44100};
    std::atomic<int> blockFrames_{2205};
    std::atomic<int> blockMs_{50};
    std::atomic<float> avgVolume_{0.6f};
    std::atomic<float> ratio1_{1.0f / 3.0f};
    std::atomic<float> ratio2_{1.0f / 3.0f};
    std::atomic<float> maxAmp_{1.8f};
    std::atomic<float> gain_{1.0f};
    std::atomic<bool> avgFromPeak_{true};
    std::atomic<float> topShare_{0.75f};
    std::atomic<bool> enabled_{false};
    TWaveDataType dataType_ = wdInt16;
    float fullScale_ = 32767.0f;
    TRoutine routine_ = nullptr;
    // Sample magnitudes for the top-share measure, grown on the playback thread.
    std::vector<std::int64_t> intMagnitudes_;
    std::vector<double> floatMagnitudes_;
};

} // namespace vantrel
