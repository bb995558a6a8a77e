#include "dsp/DeEmphsizer.h"
#include "dsp/SampleAccess.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <type_traits>

namespace vantrel {
namespace {


// y[n] = b0*x[n] + b1*x[n-1] + a1*y[n-1], in float and in double.
template <class F> struct TCoefficients {
    F b0, b1, a1;
};
struct TDesign {
    TCoefficients<float> single;
    TCoefficients<double> twice;
};

// The analog de-emphasis curve, |(1 + s*tau2) / (1 + s*tau1)|^2 at f Hz.
double AnalogPower(double frequency)
{
    constexpr double kTau1 = 50e-6; // pole
    constexpr double kTau2 = 15e-6; // zero
    const double w = 2.0 * std::numbers::pi * frequency;
    return (1.0 + w * w * kTau2 * kTau2) / (1.0 + w * w * kTau1 * kTau1);
}

// Computed once, for 44100 Hz: the first-order section whose magnitude equals the analog
// curve exactly at 0 Hz, 7750 Hz and 18000 Hz, which keeps it within 0.08 dB of the curve
// from 20 Hz to 20 kHz. (A bilinear transform cannot do that: warped at the pole it lies
// 0.95 dB below the curve at 16 kHz.)
//
// At 0 Hz, b0 + b1 = 1 - a1 =: s. At a frequency with c = cos(2 pi f / 44100) the squared
// magnitude is (s^2 - 2 b0 b1 (1 - c)) / (1 + a1^2 - 2 a1 c); matching it to the curve gives
// the product b0 b1 as a function of a1. The two frequencies must agree on that product,
// which fixes a1 (by bisection); b0 and b1 are then the two roots of x^2 - s x + b0 b1.
const TDesign& Design()
{
    static const TDesign design = [] {
        constexpr double kRate = 44100.0;
        constexpr double kMatch1 = 7750.0, kMatch2 = 18000.0;
        const auto product = [](double a1, double frequency) {
            const double c = std::cos(2.0 * std::numbers::pi * frequency / kRate);
            const double s = 1.0 - a1;
            return (s * s - AnalogPower(frequency) * (1.0 + a1 * a1 - 2.0 * a1 * c)) / (2.0 * (1.0 - c));
        };
        const auto mismatch = [&](double a1) { return product(a1, kMatch1) - product(a1, kMatch2); };
        double low = 0.3, high = 0.9; // the pole lies between; mismatch changes sign once there
        const bool lowSign = mismatch(low) > 0;
        for (int i = 0; i < 100; ++i) {
            const double mid = (low + high) / 2;
            ((mismatch(mid) > 0) == lowSign ? low : high) = mid;
        }
        const double a1 = (low + high) / 2;
        const double s = 1.0 - a1;
        const double root = std::sqrt(s * s - 4.0 * product(a1, kMatch1));
        const double b0 = (s + root) / 2;
        const double b1 = (s - root) / 2;
        return TDesign{{static_cast<float>(b0), static_cast<float>(b1), static_cast<float>(a1)}, {b0, b1, a1}};
    }();
    return design;
}

template <class F> const TCoefficients<F>& CoefficientsIn()
{
    if constexpr (std::is_same_v<F, float>)
        return Design().single;
    else
        return Design().twice;
}

using dsp_detail::Get;
using dsp_detail::Put;
using dsp_detail::Saturate32;
using dsp_detail::TruncLimit;

// How the filter sees each type: Load gives the sample as a number of type F (the
// arithmetic of the filter), Store takes the result back into the type.
struct TInt8 {
    using F = float;
    static F Load(const void* p, std::size_t i) { return static_cast<F>(static_cast<const std::uint8_t*>(p)[i] - 128); }
    static void Store(void* p, std::size_t i, F v)
    {
        static_cast<std::uint8_t*>(p)[i] = static_cast<std::uint8_t>(TruncLimit(v, -128.0f, 127.0f) + 128);
    }
};
struct TInt16 {
    using F = float;
    static F Load(const void* p, std::size_t i) { return Get<std::int16_t>(p, i); }
    static void Store(void* p, std::size_t i, F v)
    {
        Put(p, i, static_cast<std::int16_t>(TruncLimit(v, -32767.0f, 32767.0f)));
    }
};
// The 3 bytes are the top of a 32-bit value, and the result keeps the top 3 bytes.
struct TInt24 {
    using F = float;
    static F Load(const void* p, std::size_t i)
    {
        const auto* b = static_cast<const std::uint8_t*>(p) + 3 * i;
        return static_cast<F>(static_cast<std::int32_t>(std::uint32_t{b[0]} << 8 | std::uint32_t{b[1]} << 16 |
                                                        std::uint32_t{b[2]} << 24));
    }
    static void Store(void* p, std::size_t i, F v)
    {
        const auto r = static_cast<std::uint32_t>(Saturate32(v));
        auto* b = static_cast<std::uint8_t*>(p) + 3 * i;
        b[0] = static_cast<std::uint8_t>(r >> 8);
        b[1] = static_cast<std::uint8_t>(r >> 16);
        b[2] = static_cast<std::uint8_t>(r >> 24);
    }
};
// wdInt24In32 is not limited to 24 bits, only kept inside its container; wdInt32 saturates
// at the same bounds.
struct TInt32 {
    using F = float;
    static F Load(const void* p, std::size_t i) { return static_cast<F>(Get<std::int32_t>(p, i)); }
    static void Store(void* p, std::size_t i, F v) { Put(p, i, Saturate32(v)); }
};
template <class Stored> struct TFloat {
    using F = Stored;
    static F Load(const void* p, std::size_t i) { return Get<F>(p, i); }
    static void Store(void* p, std::size_t i, F v) { Put(p, i, v); }
};

// Both channels in one loop: two independent recursions keep the arithmetic units busy.
template <class T> void Filter(TDeEmphsizer::TState& state, void* const* channels, std::size_t frames, double gain)
{
    using F = typename T::F;
    if (frames == 0)
        return;
    const TCoefficients<F>& c = CoefficientsIn<F>();
    F x1[2], y1[2];
    for (int ch = 0; ch < 2; ++ch) {
        if (state.first) {
            x1[ch] = y1[ch] = T::Load(channels[ch], 0);
        } else {
            x1[ch] = static_cast<F>(state.prevIn[ch]);
            y1[ch] = static_cast<F>(state.prevOut[ch]);
        }
    }
    state.first = false;
    const F g = static_cast<F>(gain);
    void* const left = channels[0];
    void* const right = channels[1];
    for (std::size_t i = 0; i < frames; ++i) {
        const F xl = T::Load(left, i);
        const F xr = T::Load(right, i);
        const F yl = c.b0 * xl + c.b1 * x1[0] + c.a1 * y1[0];
        const F yr = c.b0 * xr + c.b1 * x1[1] + c.a1 * y1[1];
        x1[0] = xl;
        x1[1] = xr;
        y1[0] = yl;
        y1[1] = yr;
        T::Store(left, i, yl * g);
        T::Store(right, i, yr * g);
    }
    for (int ch = 0; ch < 2; ++ch) {
        state.prevIn[ch] = x1[ch];
        state.prevOut[ch] = y1[ch];
    }
}

template <class T> void Scale(void* samples, std::size_t count, double gain)
{
    using F = typename T::F;
    const F g = static_cast<F>(gain);
    for (std::size_t i = 0; i < count; ++i)
        T::Store(samples, i, T::Load(samples, i) * g);
}

template <class T> constexpr TDeEmphsizer::TRoutines kRoutinesOf{Filter<T>, Scale<T>};

// Indexed by data type, codes 0 to 8; each float width serves both of its scales.
constexpr std::array<const TDeEmphsizer::TRoutines*, kPcmWaveDataTypes> kRoutines{
    &kRoutinesOf<TInt8>,          &kRoutinesOf<TInt16>,        &kRoutinesOf<TInt24>,
    &kRoutinesOf<TInt32>,         &kRoutinesOf<TInt32>,        &kRoutinesOf<TFloat<float>>,
    &kRoutinesOf<TFloat<double>>, &kRoutinesOf<TFloat<float>>, &kRoutinesOf<TFloat<double>>,
};

} // namespace

void TDeEmphsizer::SetGain(double percent)
{
    gain_ = percent * 0.01;
    gainActive_ = !(gain_ >= 0.99999 && gain_ <= 1.00001);
}

bool TDeEmphsizer::Init(TWaveDataType dataType, int /*sampleRate*/)
{
    Design(); // the coefficients are computed here, not on the playback thread
    dataType_ = dataType;
    routines_ = dataType < kRoutines.size() ? kRoutines[dataType] : nullptr;
    return routines_ != nullptr;
}

void TDeEmphsizer::Process(void* const* channels, std::size_t frames)
{
    if (!routines_)
        return;
    if (enabled_) {
        routines_->filter(state_, channels, frames, gainActive_ ? gain_ : 1.0);
    } else if (gainActive_) {
        routines_->scale(channels[0], frames, gain_);
        routines_->scale(channels[1], frames, gain_);
    }
}

} // namespace vantrel
