#include "dsp/Equalizer.h"
#include "dsp/SampleAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace vantrel {
namespace {


// A filter whose input falls silent decays into denormal numbers, which the x86 float unit
// handles many times slower than normal ones; while filtering they count as zero.
// Restores the thread's previous mode on leaving.
#if defined(__SSE2__)
class TFlushDenormals {
public:
    TFlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushBits); }
    ~TFlushDenormals() { _mm_setcsr(saved_); }
    TFlushDenormals(const TFlushDenormals&) = delete;
    TFlushDenormals& operator=(const TFlushDenormals&) = delete;

private:
    static constexpr unsigned kFlushBits = 0x8040u; // flush to zero, denormals are zero
    unsigned saved_;
};
#else
struct TFlushDenormals { // elsewhere the processor's default mode stays
};
#endif

// One step of a band, the same arithmetic wherever a band is filtered: the difference terms
// are grouped so that a band with gain 1.0 (zeros equal to poles, b0 = 1) returns x exactly.
// c1 = b0*b1, c2 = b0*b2.
template <class V> V BandStep(V x, V x1, V x2, V y1, V y2, V b0, V c1, V c2, V a1, V a2)
{
    return ((c2 * x2 - a2 * y2) + (c1 * x1 - a1 * y1)) + b0 * x;
}

// The cascade of one block, both channels at once. Each band's recursion waits on its own
// previous output, so filtering band after band leaves the float units mostly idle. Instead
// all bands advance together on a skewed time axis: at step t band k filters sample t - k,
// whose input band k-1 produced at step t-1. Four lanes per vector: lane l of vector m holds
// band m + 4l, so the input of every band sits in the same lane of the vector before, and
// for vector 0 one lane lower in vector 3 (with the new sample entering at band 0). Band 15
// fills the last lane and passes its input through. The first and the last 14 steps of a
// block leave the bands that have no sample at that step untouched.
using TVec = float __attribute__((vector_size(16)));
using TMask = std::int32_t __attribute__((vector_size(16)));
constexpr int kVectors = 4;
constexpr int kLanes = 4 * kVectors; // bands 0 to 15
constexpr int kLastBand = TEqualizer::kBands - 1;

struct TLanes {
    TVec b0[kVectors], c1[kVectors], c2[kVectors], a1[kVectors], a2[kVectors];
    TVec x1[kVectors], x2[kVectors], y1[kVectors], y2[kVectors];
};

constexpr int VectorOf(int band)
{
    return band % kVectors;
}
constexpr int LaneOf(int band)
{
    return band / kVectors;
}

TVec Select(TMask mask, TVec a, TVec b)
{
    return reinterpret_cast<TVec>((reinterpret_cast<TMask>(a) & mask) | (reinterpret_cast<TMask>(b) & ~mask));
}

// One step of all bands of one channel; in is the sample entering band 0. Masked: only the
// bands from..to (by band number) take the step.
template <bool Masked> [[gnu::always_inline]] inline void Advance(TLanes& s, float in, int from, int to)
{
    TVec x[kVectors];
    x[0] = __builtin_shufflevector(s.y1[kVectors - 1], TVec{in, 0.0f, 0.0f, 0.0f}, 4, 0, 1, 2);
    for (int m = 1; m < kVectors; ++m)
        x[m] = s.y1[m - 1];
    for (int m = 0; m < kVectors; ++m) {
        const TVec y = BandStep(x[m], s.x1[m], s.x2[m], s.y1[m], s.y2[m], s.b0[m], s.c1[m], s.c2[m], s.a1[m], s.a2[m]);
        if constexpr (Masked) {
            const TMask band{m, m + kVectors, m + 2 * kVectors, m + 3 * kVectors};
            const TMask active = (band >= from) & (band <= to);
            s.x2[m] = Select(active, s.x1[m], s.x2[m]);
            s.x1[m] = Select(active, x[m], s.x1[m]);
            s.y2[m] = Select(active, s.y1[m], s.y2[m]);
            s.y1[m] = Select(active, y, s.y1[m]);
        } else {
            s.x2[m] = s.x1[m];
            s.x1[m] = x[m];
            s.y2[m] = s.y1[m];
            s.y1[m] = y;
        }
    }
}

float LastOutput(const TLanes& s)
{
    return s.y1[VectorOf(kLastBand)][LaneOf(kLastBand)];
}

// Filters both channels in place; frames > 0.
void RunCascade(TLanes& leftLanes, TLanes& rightLanes, float* left, float* right, std::size_t frames)
{
    // Locals, so the compiler knows the stores into the sample arrays leave them alone.
    TLanes l = leftLanes;
    TLanes r = rightLanes;
    const std::size_t steps = frames + kLastBand;
    // Band k is busy at steps k .. k + frames - 1: from busyFrom(t) to busyTo(t).
    auto busyFrom = [frames](std::size_t t) { return t >= frames ? static_cast<int>(t - frames + 1) : 0; };
    auto busyTo = [](std::size_t t) { return static_cast<int>(std::min<std::size_t>(t, kLanes)); };
    std::size_t t = 0;
    for (; t < std::min<std::size_t>(kLastBand, steps); ++t) { // filling: no output yet
        const int from = busyFrom(t), to = busyTo(t);
        Advance<true>(l, t < frames ? left[t] : 0.0f, from, to);
        Advance<true>(r, t < frames ? right[t] : 0.0f, from, to);
    }
    for (; t < frames; ++t) { // every band busy
        Advance<false>(l, left[t], 0, 0);
        Advance<false>(r, right[t], 0, 0);
        left[t - kLastBand] = LastOutput(l);
        right[t - kLastBand] = LastOutput(r);
    }
    for (; t < steps; ++t) { // draining
        const int from = busyFrom(t), to = busyTo(t);
        Advance<true>(l, 0.0f, from, to);
        Advance<true>(r, 0.0f, from, to);
        left[t - kLastBand] = LastOutput(l);
        right[t - kLastBand] = LastOutput(r);
    }
    leftLanes = l;
    rightLanes = r;
}

// Weak-side factor of the balance for k = 100 - |balance|, from a piecewise linear dB curve.
double WeakSideFactor(int k)
{
    if (k <= 0)
        return 0.0;
    double dB;
    if (k >= 75)
        dB = -(100 - k) * 0.24;
    else if (k >= 50)
        dB = -6.0 - (75 - k) * 0.24;
    else if (k >= 25)
        dB = -12.0 - (50 - k) * 0.48;
    else if (k >= 13)
        dB = -24.0 - (25 - k) * 1.92;
    else
        dB = -48.0 - (12.5 - k) * 0.96;
    return std::pow(10.0, dB / 20.0);
}

void ApplyLevelAndBalance(float* left, float* right, std::size_t frames, double level, int balance)
{
    if (balance == 0) {
        if (level != 1.0) {
            const float g = static_cast<float>(level);
            for (std::size_t i = 0; i < frames; ++i) {
                left[i] *= g;
                right[i] *= g;
            }
        }
        return;
    }
    const double e = WeakSideFactor(100 - std::abs(balance));
    double weak = e, keep = 0.5 + 0.5 * e, moved = 0.5 - 0.5 * e;
    if (level != 1.0) {
        weak *= level;
        keep *= level;
        moved *= level;
    }
    const float d = static_cast<float>(weak), f = static_cast<float>(keep), g = static_cast<float>(moved);
    float* strongSide = balance < 0 ? left : right;
    float* weakSide = balance < 0 ? right : left;
    for (std::size_t i = 0; i < frames; ++i) {
        const float s = strongSide[i], w = weakSide[i];
        strongSide[i] = s * f + w * g;
        weakSide[i] = w * d;
    }
}

using dsp_detail::Get;
using dsp_detail::Put;
using dsp_detail::Saturate32;
using dsp_detail::TruncLimit;

void LoadInt8(const void* samples, float* values, std::size_t count)
{
    const auto* p = static_cast<const std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = static_cast<float>(p[i] - 128);
}
void StoreInt8(const float* values, void* samples, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i)
        p[i] = static_cast<std::uint8_t>(TruncLimit(values[i], -128.0f, 127.0f) + 128);
}

void LoadInt16(const void* samples, float* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        values[i] = Get<std::int16_t>(samples, i);
}
void StoreInt16(const float* values, void* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        Put(samples, i, static_cast<std::int16_t>(TruncLimit(values[i], -32768.0f, 32767.0f)));
}

void LoadInt24(const void* samples, float* values, std::size_t count)
{
    const auto* p = static_cast<const std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i, p += 3) {
        const auto bits = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
        values[i] = static_cast<float>(static_cast<std::int32_t>(bits ^ 0x800000u) - 0x800000);
    }
}
void StoreInt24(const float* values, void* samples, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i, p += 3) {
        const auto bits = static_cast<std::uint32_t>(TruncLimit(values[i], -8388608.0f, 8388607.0f));
        p[0] = static_cast<std::uint8_t>(bits);
        p[1] = static_cast<std::uint8_t>(bits >> 8);
        p[2] = static_cast<std::uint8_t>(bits >> 16);
    }
}

// wdInt24In32 and wdInt32 alike: the value itself, kept inside 32 bits on the way back
// (wdInt24In32 may exceed its 24-bit scale).
void LoadInt32(const void* samples, float* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        values[i] = static_cast<float>(Get<std::int32_t>(samples, i));
}
void StoreInt32(const float* values, void* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        Put(samples, i, Saturate32(values[i]));
}

template <class F> void LoadFloat(const void* samples, float* values, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        values[i] = static_cast<float>(Get<F>(samples, i));
}
template <class F> void StoreFloat(const float* values, void* samples, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        Put(samples, i, static_cast<F>(values[i]));
}

constexpr TEqualizer::TRoutines kInt8{LoadInt8, StoreInt8};
constexpr TEqualizer::TRoutines kInt16{LoadInt16, StoreInt16};
constexpr TEqualizer::TRoutines kInt24{LoadInt24, StoreInt24};
constexpr TEqualizer::TRoutines kInt32{LoadInt32, StoreInt32};
constexpr TEqualizer::TRoutines kFloat32{LoadFloat<float>, StoreFloat<float>};
constexpr TEqualizer::TRoutines kFloat64{LoadFloat<double>, StoreFloat<double>};

// Indexed by data type, codes 0 to 8; each float width serves both of its scales.
constexpr std::array<const TEqualizer::TRoutines*, kPcmWaveDataTypes> kRoutines{
    &kInt8, &kInt16, &kInt24, &kInt32, &kInt32, &kFloat32, &kFloat64, &kFloat32, &kFloat64,
};

} // namespace

TBandEq::TBandEq()
{
    Compute();
}

bool TBandEq::SetParams(float gain, float q, float freq, float period)
{
    for (const float v : {gain, q, freq, period})
        if (!(std::isfinite(v) && v > 0.0f))
            return false;
    std::scoped_lock guard(lock_);
    gain_ = gain;
    q_ = q;
    freq_ = freq;
    period_ = period;
    Compute();
    return true;
}

// All in float. The analog section's zeros and poles s = w0 * (-zeta +- sqrt(zeta^2 - 1))
// map to z = e^(sT): radius e^(-zeta*x) and, per pair, 2 * Re = 2 r cos(x sqrt(1 - zeta^2)),
// or 2 r cosh(x sqrt(zeta^2 - 1)) for real ones. Its gain at w0 is zz / zp; a boost widens
// the zeros, a cut widens the poles.
void TBandEq::Compute()
{
    constexpr float kTwoPi = 6.28318530717958f;
    constexpr float kE = 2.7182819843292236f;
    const float omega = kTwoPi * freq_;
    const float x = omega * period_;
    float zetaZ, zetaP;
    if (gain_ >= 1.0f) {
        zetaP = 1.0f / (2.0f * q_);
        zetaZ = zetaP * gain_;
    } else {
        zetaZ = 1.0f / (2.0f * q_);
        zetaP = zetaZ / gain_;
    }
    auto pair = [x](float zeta, float& c1, float& c2) {
        const float r = std::pow(kE, -zeta * x);
        const float c =
            zeta <= 1.0f ? std::cos(x * std::sqrt(1.0f - zeta * zeta)) : std::cosh(x * std::sqrt(zeta * zeta - 1.0f));
        c1 = -2.0f * r * c;
        c2 = r * r;
    };
    pair(zetaZ, b1_, b2_);
    pair(zetaP, a1_, a2_);
    // |1 + c1/z + c2/z^2| at z = e^(jx), squared.
    const float cosX = std::cos(x), sinX = std::sin(x);
    auto magnitude2 = [cosX, sinX](float c1, float c2) {
        const float re = (c2 + 1.0f) * cosX + c1;
        const float im = sinX * (c2 - 1.0f);
        return re * re + im * im;
    };
    b0_ = gain_ * std::sqrt(magnitude2(a1_, a2_)) / std::sqrt(magnitude2(b1_, b2_));
}

void TBandEq::Process(const float* src, float* dst, std::size_t count)
{
    std::scoped_lock guard(lock_);
    const TFlushDenormals flush{};
    const float b0 = b0_, c1 = b0_ * b1_, c2 = b0_ * b2_, a1 = a1_, a2 = a2_;
    float x1 = x1_, x2 = x2_, y1 = y1_, y2 = y2_;
    for (std::size_t i = 0; i < count; ++i) {
        const float x = src[i];
        const float y = BandStep(x, x1, x2, y1, y2, b0, c1, c2, a1, a2);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        dst[i] = y;
    }
    x1_ = x1;
    x2_ = x2;
    y1_ = y1;
    y2_ = y2;
}

void TBandEq::Clear()
{
    std::scoped_lock guard(lock_);
    x1_ = x2_ = y1_ = y2_ = 0.0f;
}

float TBandEq::GetGain() const
{
    std::scoped_lock guard(lock_);
    return gain_;
}
float TBandEq::GetQ() const
{
    std::scoped_lock guard(lock_);
    return q_;
}
float TBandEq::GetFreq() const
{
    std::scoped_lock guard(lock_);
    return freq_;
}
float TBandEq::GetPeriod() const
{
    std::scoped_lock guard(lock_);
    return period_;
}

TEqualizer::TEqualizer()
{
    for (int band = 0; band < kBands; ++band)
        SetBandParams(band, 1.0f, kDefaultQ, kDefaultFreqs[band]);
}

bool TEqualizer::SetBandParams(int band, float gain, float q, float freq)
{
    if (band < 0 || band >= kBands)
        return false;
    return left_[band].SetParams(gain, q, freq, kPeriod) && right_[band].SetParams(gain, q, freq, kPeriod);
}

void TEqualizer::SetLevel(double level)
{
    level_.store(level < 0.0 ? 0.0 : level, std::memory_order_relaxed);
}

void TEqualizer::SetBalance(int balance)
{
    balance_.store(std::clamp(balance, -100, 100), std::memory_order_relaxed);
}

bool TEqualizer::Init(TWaveDataType dataType, int sampleRate)
{
    dataType_ = dataType;
    routines_ = dataType < kRoutines.size() ? kRoutines[dataType] : nullptr;
    try {
        const auto frames = static_cast<std::size_t>(std::clamp(sampleRate, 0, 192000));
        blockLeft_.reserve(frames);
        blockRight_.reserve(frames);
    } catch (const std::bad_alloc&) {
        // Process grows the buffers when it needs them.
    }
    return routines_ != nullptr;
}

void TEqualizer::Process(void* const* channels, std::size_t frames)
{
    if (!enabled_.load(std::memory_order_relaxed) || !routines_ || frames == 0)
        return;
    const double level = level_.load(std::memory_order_relaxed);
    const int balance = balance_.load(std::memory_order_relaxed);
    try {
        if (blockLeft_.size() < frames) {
            blockLeft_.resize(frames);
            blockRight_.resize(frames);
        }
    } catch (const std::bad_alloc&) {
        return; // the block passes unfiltered
    }
    float* const left = blockLeft_.data();
    float* const right = blockRight_.data();
    routines_->load(channels[0], left, frames);
    routines_->load(channels[1], right, frames);
    Filter(left, right, frames);
    ApplyLevelAndBalance(left, right, frames, level, balance);
    routines_->store(left, channels[0], frames);
    routines_->store(right, channels[1], frames);
}

void TEqualizer::Filter(float* left, float* right, std::size_t frames)
{
    // Every band keeps its lock for the whole block: a parameter change waits for the block.
    std::array<std::unique_lock<std::mutex>, 2 * kBands> locks;
    for (int band = 0; band < kBands; ++band) {
        locks[band] = std::unique_lock(left_[band].lock_);
        locks[kBands + band] = std::unique_lock(right_[band].lock_);
    }

    TLanes lanes[2];
    std::array<TBandEq, kBands>* const bands[2] = {&left_, &right_};
    for (int c = 0; c < 2; ++c) {
        TLanes& s = lanes[c];
        // The spare band 15 passes its input through.
        for (int m = 0; m < kVectors; ++m)
            s.b0[m] = s.c1[m] = s.c2[m] = s.a1[m] = s.a2[m] = s.x1[m] = s.x2[m] = s.y1[m] = s.y2[m] = TVec{};
        s.b0[VectorOf(kBands)][LaneOf(kBands)] = 1.0f;
        for (int k = 0; k < kBands; ++k) {
            const TBandEq& b = (*bands[c])[k];
            const int m = VectorOf(k), l = LaneOf(k);
            s.b0[m][l] = b.b0_;
            s.c1[m][l] = b.b0_ * b.b1_;
            s.c2[m][l] = b.b0_ * b.b2_;
            s.a1[m][l] = b.a1_;
            s.a2[m][l] = b.a2_;
            s.x1[m][l] = b.x1_;
            s.x2[m][l] = b.x2_;
            s.y1[m][l] = b.y1_;
            s.y2[m][l] = b.y2_;
        }
    }
    {
        const TFlushDenormals flush{};
        RunCascade(lanes[0], lanes[1], left, right, frames);
    }
    for (int c = 0; c < 2; ++c) {
        const TLanes& s = lanes[c];
        for (int k = 0; k < kBands; ++k) {
            TBandEq& b = (*bands[c])[k];
            const int m = VectorOf(k), l = LaneOf(k);
            b.x1_ = s.x1[m][l];
            b.x2_ = s.x2[m][l];
            b.y1_ = s.y1[m][l];
            b.y2_ = s.y2[m][l];
        }
    }
}

void TEqualizer::Reset()
{
    for (int band = 0; band < kBands; ++band) {
        left_[band].Clear();
        right_[band].Clear();
    }
}

} // namespace vantrel
