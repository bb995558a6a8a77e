// The 15-band graphic equalizer: per channel 15 peaking filters in cascade, then an output
// level and a left/right balance. A block stage: it runs on every full output block, before
// the normalizer, and always filters in 32-bit float whatever the internal sample type.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

#include "dsp/SignalStage.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// One band: a second-order peaking filter, the pole-zero (matched-z) mapping of the analog
// section (s^2 + 2*zz*w0*s + w0^2) / (s^2 + 2*zp*w0*s + w0^2), scaled so that its gain at the
// centre frequency is exactly the requested one. With gain 1.0 the zeros equal the poles
// and the band passes its input unchanged, bit for bit.
//
// Threads: every operation takes the band's lock, so a parameter change from the user
// interface and a Process call on the playback thread exclude each other.
class TBandEq {
public:
    // 1000 Hz, Q 3.0, gain 1.0, at 44100 Hz.
    TBandEq();
    virtual ~TBandEq() = default;
    TBandEq(const TBandEq&) = delete;
    TBandEq& operator=(const TBandEq&) = delete;

    // gain: linear amplitude gain at freq (1.0 = 0 dB); period: 1 / sample rate in seconds.
    // Recomputes the coefficients and keeps the filter's history. False, and nothing
    // changed, unless all four are finite and above 0.
    bool SetParams(float gain, float q, float freq, float period);
    // Filters count samples from src into dst (which may be src) and carries the history
    // over to the next call.
    void Process(const float* src, float* dst, std::size_t count);
    // Forgets the history (the last two inputs and outputs).
    void Clear();

    float GetGain() const;
    float GetQ() const;
    float GetFreq() const;
    float GetPeriod() const;

private:
    friend class TEqualizer; // filters its 30 bands together, under their locks

    void Compute();

    float period_ = 1.0f / 44100.0f;
    float freq_ = 1000.0f;
    float q_ = 3.0f;
    float gain_ = 1.0f;
    float b0_ = 1.0f;       // output scale
    float b1_ = 0, b2_ = 0; // zeros: 1 + b1/z + b2/z^2
    float a1_ = 0, a2_ = 0; // poles: 1 + a1/z + a2/z^2
    float y1_ = 0, y2_ = 0; // the last two outputs
    float x1_ = 0, x2_ = 0; // the last two inputs
    mutable std::mutex lock_;
};

// Per block: the channels become 32-bit float (wdInt8 as byte - 128, other integers at their
// own scale, wdFloat64 rounded), run through bands 0 to 14 in cascade, get level and balance,
// and go back truncated toward zero and clipped to the type (wdInt24In32 only to its 32-bit
// container; floats as they are). While filtering, denormal numbers count as zero.
//
// Balance b moves the image toward one side: the other side is attenuated by a factor e
// from a piecewise dB curve of k = 100 - |b| (0 dB at k = 100, silence at k = 0), and what
// it loses is mixed into the strong side, so at +-100 the strong side carries (L + R) / 2.
//
// Threads: the setters may be called from any thread, also while the playback thread runs
// Process. A block is filtered entirely with the old or entirely with the new parameters of
// each band (a band's setter waits for the block in progress; the left and right filters of
// a band are set one after the other); level, balance and the enabled flag are read once
// per block. Init, Process and Reset follow TBlockStage. Process allocates only when a
// block is longer than any before it (Init prepares for one second).
class TEqualizer final : public TBlockStage {
public:
    static constexpr int kBands = 15;
    // Band centres in Hz, two thirds of an octave apart.
    static constexpr std::array<float, kBands> kDefaultFreqs{24.8f,   39.4f,   62.5f,   99.2f,    157.5f,
                                                             250.0f,  396.9f,  630.0f,  1000.0f,  1587.4f,
                                                             2519.8f, 4000.0f, 6349.6f, 10079.3f, 15999.9f};
    static constexpr float kDefaultQ = 3.0f;
    static constexpr float kPeriod = 1.0f / 44100.0f;

    // Between one channel buffer of the data type and a float array, count samples.
    using TLoadRoutine = void (*)(const void* samples, float* values, std::size_t count);
    using TStoreRoutine = void (*)(const float* values, void* samples, std::size_t count);
    struct TRoutines {
        TLoadRoutine load;
        TStoreRoutine store;
    };

    // Every band at its default centre, Q 3.0 and gain 1.0; level 1.0, balance 0, disabled.
    TEqualizer();

    // Sets band 0..14 of both channels (period 1/44100). False for another band or
    // parameters the band refuses.
    bool SetBandParams(int band, float gain, float q, float freq);
    // Linear output level; a negative value stores 0.0.
    void SetLevel(double level);
    double GetLevel() const { return level_.load(std::memory_order_relaxed); }
    // -100 (left only) .. 0 .. +100 (right only); clipped to that range.
    void SetBalance(int balance);
    int GetBalance() const { return balance_.load(std::memory_order_relaxed); }
    // Level and balance act only while the equalizer is enabled.
    void SetEnabled(bool on) { enabled_.store(on, std::memory_order_relaxed); }
    bool GetEnabled() const { return enabled_.load(std::memory_order_relaxed); }

    // False, and no routine, for a code outside 0 to 8. The bands work at 44100 Hz
    // whatever the rate; it only sizes the block buffers.
    bool Init(TWaveDataType dataType, int sampleRate) override;
    // Does nothing unless enabled and a routine is chosen; frames may be 0.
    void Process(void* const* channels, std::size_t frames) override;
    // Clears the history of all 30 filters.
    void Reset() override;

    TWaveDataType GetDataType() const { return dataType_; }

private:
    void Filter(float* left, float* right, std::size_t frames);

    std::array<TBandEq, kBands> left_;
    std::array<TBandEq, kBands> right_;
    std::atomic<double> level_{1.0};
    std::atomic<int> balance_{0};
    std::atomic<bool> enabled_{false};
    TWaveDataType dataType_ = wdInt16;
    const TRoutines* routines_ = nullptr;
    // The block as float, one array per channel; the cascade runs in place.
    std::vector<float> blockLeft_;
    std::vector<float> blockRight_;
};

} // namespace vantrel
