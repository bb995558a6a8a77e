// Plays faster or slower by resampling, pitch and all, as a turntable does: fixed steps from
// 0.5x to 10x with short averaging or interpolating kernels, a random mode that jumps between
// steps at an interval, and a continuous mode (any factor from 0.5) through CRateConverter.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>

#include "dsp/RateConverter.h"
#include "dsp/SignalStage.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// Speed codes (SetSpeed): -2 half speed, -1 two thirds, 0 normal, 1 one and a half times,
// 2..10 that many times; kRandomSpeed and kContinuousSpeed select the other two modes.
//
// Steps, per channel, x the input chunk and y the output (r = input frames mod the group):
//   -2  y[2m] = (x[m-1] + x[m]) / 2, y[2m+1] = x[m]; x[-1] is the previous chunk's last frame
//   -1  pairs x[2k], x[2k+1] give x[2k], their mean, x[2k+1]; an odd last frame gives itself
//    1  groups of 3 give the means of their first and last two frames: frames 0..2, then
//       r+3k .. r+3k+2 for k >= 1; with r = 2 frames 3 and 4 give one more output, their mean
//    n  output i is the mean of frames r + n*i .. r + n*i + n - 1 (wdInt8: output 0 is the
//       mean of frames 0 .. n - 1)
// Integers add in a wider integer; pairs halve with an arithmetic shift (toward minus
// infinity), groups divide truncating toward zero; at step -2 the first output of a chunk is
// (previous frame + first frame) / 2 in double, truncated. Floats use * 0.5 and / n.
//
// Threads: everything runs on the playback thread (settings reach it between chunks), or on
// the owner's thread while no playback runs; SetSpeedEx alone may also come from the owner's
// thread during play (it takes effect with the next chunk). The playback thread allocates
// only when the rate converter meets a larger chunk than before.
class TSpeedChanger : public TSpeedStage {
public:
    static constexpr int kRandomSpeed = 255;
    static constexpr int kContinuousSpeed = 4095;
    static constexpr int kMinStep = -2;
    static constexpr int kMaxStep = 10;
    // Draws one uniform random integer.
    using TRandomSource = std::function<std::uint32_t()>;

    TSpeedChanger(); // step 0, random range -1..3 every 5 s, continuous factor 1.0

    // -2..10: that step, leaving random and continuous mode. kContinuousSpeed: continuous
    // mode with the stored factor. kRandomSpeed: random mode, which draws a step with the
    // next Tick. False, and nothing changed, for any other code.
    bool SetSpeed(int code);
    // The continuous factor (2.0: twice as fast). Refused below 0.5 and when not finite: the
    // output of a chunk must fit twice its input.
    bool SetSpeedEx(double factor);
    // Random-mode bounds and change interval (seconds of playing time); ignored, with false,
    // unless maxStep <= 10, minStep >= -2, minStep < maxStep and interval > 0.
    bool SetRandomRange(int maxStep, int minStep, int interval);
    // Replaces the random-mode generator (tests give a seeded or scripted one). By default
    // a Mersenne twister seeded from std::random_device.
    void SetRandomSource(TRandomSource source);

    // The speed factor now: the continuous factor in continuous mode, else the step's.
    double GetSpeed() const;
    // The same as the 32-bit float that the player reports with its speed notification.
    float GetSpeedRatio() const { return static_cast<float>(GetSpeed()); }
    int GetStep() const { return step_; }
    // Output frames per input frame of the step, as the 32-bit float the step uses.
    float GetStepRatio() const { return ratio_; }
    bool IsRandom() const { return random_; }
    bool IsContinuous() const { return continuous_; }
    double GetSpeedEx() const { return speedEx_.load(std::memory_order_relaxed); }
    int GetMaxStep() const { return maxStep_; }
    int GetMinStep() const { return minStep_; }
    int GetInterval() const { return interval_; }
    int GetCountdown() const { return countdown_; }
    int GetSampleRate() const { return sampleRate_; }
    const CRateConverter& GetRateConverter() const { return rateConverter_; }

    // Initialises the rate converter alike and picks the routine for the type; false, and no
    // routine, for codes outside 0..8.
    bool Init(TWaveDataType dataType, int sampleRate) override;
    // Forgets the previous chunk's last frame and the rate converter's history: at the start
    // of play and after a seek or a change of direction.
    void Reset();
    // Once per chunk, before Process, with the chunk's length in CD sectors (588 frames).
    // True when the speed changed and must be reported, with the new code in *newCode:
    // every chunk in continuous mode (kContinuousSpeed); in random mode when a step was
    // drawn, which happens once the chunks for `interval` seconds at the last drawn speed
    // have passed. A chunk of less than a sector counts as one.
    bool Tick(int sectors, int* newCode = nullptr);
    // Returns the output frames: floor(inFrames * the step's ratio), or the rate converter's
    // count; at most 2 * inFrames. 0 for no input and without a routine.
    std::size_t Process(const void* const* channels, std::size_t inFrames, void* const* outChannels) override;

private:
    using TRoutine = std::size_t (TSpeedChanger::*)(const void* const*, std::size_t, void* const*);
    template <TWaveDataType T> std::size_t Run(const void* const* channels, std::size_t inFrames, void* const* out);
    void SetStep(int step);

    int sampleRate_ = 44100;
    int step_ = 0;
    float ratio_ = 1.0f;
    bool random_ = false;
    int maxStep_ = 3;
    int minStep_ = -1;
    int interval_ = 5;
    int countdown_ = 0;
    bool continuous_ = false;
    std::atomic<double> speedEx_{1.0};
    CRateConverter rateConverter_;
    TWaveDataType dataType_ = wdInt16;
    TRoutine routine_ = nullptr;
    // The previous chunk's last frame, in the sample's value (wdInt8 as byte - 128).
    double lastLeft_ = 0.0;
    double lastRight_ = 0.0;
    std::mt19937 engine_;
    TRandomSource randomSource_;
};

} // namespace vantrel
