// The low-pass kernel of the rate converter: a 25-tap windowed sinc (Kaiser window, 40 dB
// stopband) whose cutoff lies halfway between a passband and a stopband edge. It only
// designs coefficients; applying them, and at which positions, is the rate converter's job.
#pragma once

#include <vector>

namespace vantrel {

// Arithmetic is 32-bit float throughout, with pi as the float 3.141592, so the taps are the
// same on every machine. Owned and called by one thread at a time.
class CFIRFilter {
public:
    // 25 designed taps and one trailing zero.
    static constexpr int kTapCount = 26;

    CFIRFilter();
    virtual ~CFIRFilter() = default;

    // Designs for a sampling rate and the two edges in Hz; the cutoff, in radians per
    // sample, is pi * (passEdge + stopEdge) / rate.
    void Design(float rate, float passEdge, float stopEdge);

    int GetTapCount() const { return tapCount_; }
    // Copies GetTapCount() coefficients to dst, the centre tap at index 12.
    void GetTaps(float* dst) const;
    const std::vector<float>& Taps() const { return taps_; }

private:
    float halfRate_ = 0.0f;
    float passEdge_ = 0.0f;
    float stopEdge_ = 0.0f;
    int tapCount_ = kTapCount;
    std::vector<float> taps_;
};

} // namespace vantrel
