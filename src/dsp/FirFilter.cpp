#include "dsp/FirFilter.h"

#include <algorithm>
#include <cmath>

namespace vantrel {
namespace {

constexpr float kPi = 3.141592f; // the taps were always designed with this value
constexpr int kHalfLength = 12;  // taps -12 .. 12 around the centre
constexpr float kStopbandDb = 40.0f;

// Kaiser's beta for a stopband attenuation in dB.
float KaiserBeta(float attenuation)
{
    if (attenuation > 50.0f)
        return 0.1102f * (attenuation - 8.7f);
    if (attenuation >= 21.0f)
        return 0.5842f * std::pow(attenuation - 21.0f, 0.4f) + 0.07886f * (attenuation - 21.0f);
    return 0.0f;
}

// Modified Bessel function of the first kind, order 0, by its series to the 20th term.
float BesselI0(float x)
{
    float sum = 1.0f;
    float term = 1.0f; // (x/2)^k / k!
    for (int k = 1; k <= 20; ++k) {
        term *= x * 0.5f / static_cast<float>(k);
        sum += term * term;
    }
    return sum;
}

} // namespace

CFIRFilter::CFIRFilter() : taps_(kTapCount, 0.0f) {}

void CFIRFilter::Design(float rate, float passEdge, float stopEdge)
{
    halfRate_ = rate / 2.0f;
    passEdge_ = passEdge;
    stopEdge_ = stopEdge;
    taps_.assign(static_cast<std::size_t>(tapCount_), 0.0f);

    const float cutoff = (passEdge_ / halfRate_ * kPi + stopEdge_ / halfRate_ * kPi) / 2.0f;
    const float beta = KaiserBeta(kStopbandDb);
    const float i0Beta = BesselI0(beta);
    for (int i = -kHalfLength; i <= kHalfLength; ++i) {
        const float r = static_cast<float>(i) / static_cast<float>(kHalfLength);
        const float window = BesselI0(beta * std::sqrt(1.0f - r * r)) / i0Beta;
        const float fi = static_cast<float>(i);
        const float sinc = i == 0 ? cutoff / kPi : std::sin(fi * cutoff) / (fi * kPi);
        taps_[static_cast<std::size_t>(i + kHalfLength)] = window * sinc;
    }
}

void CFIRFilter::GetTaps(float* dst) const
{
    std::copy(taps_.begin(), taps_.end(), dst);
}

} // namespace vantrel
