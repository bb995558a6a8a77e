// Resamples a stereo stream by any factor s (s input frames per output frame: 1.5 plays 50 %
// faster and higher) with a 25-tap windowed-sinc kernel evaluated between its taps by linear
// interpolation. Chunk by chunk without seams: it keeps the last 26 input frames of each channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/FirFilter.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// The kernel is designed once per change of factor, never per chunk. Each output is centred
// on the input at its read position (one step of s after the one before) delayed by 14 frames:
// the kernel's centre sits 12 frames into the 26 of history.
//
// The read position advances in exact binary fixed point (32 fraction bits) and is carried
// whole from chunk to chunk, so cutting a stream into chunks of any sizes gives exactly the
// samples that converting it in one piece gives. Work is done in 32-bit floats (wdInt8 as
// byte - 128, integers as their value); results are truncated toward zero and limited to
// the type's range (wdInt24In32 only to its 32-bit container).
//
// Belongs to one thread (the playback thread, or whoever owns it while no playback runs).
// The work buffers grow to the largest chunk seen and are kept, so a steady stream of chunks
// allocates nothing.
class CRateConverter {
public:
    static constexpr int kTapCount = CFIRFilter::kTapCount;

    CRateConverter(); // factor 1.0, 44100 Hz, wdInt16, zero history
    virtual ~CRateConverter();
    CRateConverter(const CRateConverter&) = delete;
    CRateConverter& operator=(const CRateConverter&) = delete;

    // A new factor redesigns the kernel and starts the read position afresh at 0; the history
    // stays. The same factor again changes nothing. False, and nothing changed, for a factor
    // that is not finite or lies outside 1/65536 .. 65536.
    bool SetRatio(double s);
    // Stores the type and rate and picks the routine for the type; false, with no routine,
    // for codes outside 0..8. Does not redesign the kernel: its cutoff is relative to the rate.
    bool Init(TWaveDataType dataType, int sampleRate);
    // Zeroes the history (after a seek: the new audio must not ring with the old).
    void Reset();
    // SetRatio(s), then converts inFrames (below 2^32) frames of both channels into
    // outChannels and returns the frames written: one per step of s while the read position
    // is below inFrames, so at most ceil(inFrames / s) (2 * inFrames for s >= 0.5). 0 without
    // a routine, for no input and for an invalid factor.
    std::size_t Convert(double s, const void* const* channels, std::size_t inFrames, void* const* outChannels);

    double GetRatio() const { return ratio_; }
    double GetInvRatio() const { return invRatio_; }
    int GetSampleRate() const { return sampleRate_; }
    TWaveDataType GetDataType() const { return dataType_; }
    bool HasRoutine() const { return routine_ != nullptr; }
    // The read position carried into the next chunk, in frames from its first frame, and its
    // fractional part.
    double GetPosition() const;
    float GetFrac() const;
    // The kernel (kTapCount taps) and its slope table (kTapCount - 1 differences).
    const std::array<float, kTapCount>& GetKernel() const { return kernel_; }
    const std::array<float, kTapCount - 1>& GetSlope() const { return slope_; }

private:
    using TRoutine = std::size_t (CRateConverter::*)(const void* const*, std::size_t, void* const*);
    // The filter loop reads kPadded taps from each position: the 25 used ones and zeros.
    static constexpr int kPadded = 28;
    static constexpr std::size_t kWorkPad = kPadded - (kTapCount - 1);

    template <TWaveDataType T> std::size_t Run(const void* const* channels, std::size_t inFrames, void* const* out);
    void Redesign();
    void PrepareWork(std::size_t inFrames);

    int sampleRate_ = 44100;
    double ratio_ = 1.0;
    double invRatio_ = 1.0;
    CFIRFilter filter_;
    std::array<float, kTapCount> kernel_{};
    std::array<float, kTapCount - 1> slope_{};
    // kernel_ and slope_ in the order the loop walks the input (oldest frame first), padded.
    alignas(16) std::array<float, kPadded> kernelRev_{};
    alignas(16) std::array<float, kPadded> slopeRev_{};
    std::uint64_t step_ = std::uint64_t{1} << 32; // s in 32.32 fixed point
    std::uint64_t position_ = 0;                  // carried read position, 32.32
    TWaveDataType dataType_ = wdInt16;
    TRoutine routine_ = nullptr;
    // Per channel: the kTapCount history frames, then the chunk, then kWorkPad zeros.
    std::vector<float> work_[2];
};

} // namespace vantrel
