#include "dsp/RateConverter.h"
#include "dsp/SampleAccess.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantrel {
namespace {

constexpr double kFixedOne = 4294967296.0; // 2^32: one frame in the fixed-point position
constexpr double kMinRatio = 1.0 / 65536.0;
constexpr double kMaxRatio = 65536.0;

// Truncates toward zero and limits to Lo..Hi; NaN is silence. Comparing before the cast keeps
// every cast in range (float(2^31 - 1) is 2^31).
template <std::int32_t Lo, std::int32_t Hi> std::int32_t TruncLimit(float t)
{
    if (!(t == t))
        return 0;
    if (t >= static_cast<float>(Hi))
        return Hi;
    if (t <= static_cast<float>(Lo))
        return Lo;
    return static_cast<std::int32_t>(t);
}

using dsp_detail::TFormat;

// One sample of a type read as the float the filter works on, and a filter result stored.
template <TWaveDataType T> struct TSample {
    using Value = dsp_detail::TValue<T>;
    static float Load(const std::byte* p) { return static_cast<float>(TFormat<T>::Load(p)); }
    static void Store(std::byte* p, float t)
    {
        if constexpr (dsp_detail::kIsFloat<T>)
            TFormat<T>::Store(p, static_cast<Value>(t));
        else
            TFormat<T>::Store(p, TruncLimit<TFormat<T>::kMin, TFormat<T>::kMax>(t));
    }
};

// Four floats in one SSE register (or whatever the target has); the filter loop is written
// with them because the compiler may not reorder a float sum by itself.
typedef float TFloat4 __attribute__((vector_size(16)));

TFloat4 Load4(const float* p)
{
    TFloat4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

CRateConverter::CRateConverter()
{
    Redesign();
}

CRateConverter::~CRateConverter() = default;

bool CRateConverter::SetRatio(double s)
{
    if (!(s >= kMinRatio && s <= kMaxRatio))
        return false;
    if (s == ratio_)
        return true;
    ratio_ = s;
    invRatio_ = 1.0 / s;
    Redesign();
    return true;
}

void CRateConverter::Redesign()
{
    const float rate = static_cast<float>(sampleRate_);
    const float scaled = static_cast<float>(sampleRate_ / ratio_);
    const float fmin = std::min(rate, scaled);
    filter_.Design(scaled, 0.35f * fmin, 0.5f * fmin);
    filter_.GetTaps(kernel_.data());
    for (int j = 0; j + 1 < kTapCount; ++j)
        slope_[j] = kernel_[j + 1] - kernel_[j];
    // Output = sum over j = 0..24 of (kernel[j] + f * slope[j]) * work[m + 24 - j]; walking
    // the work buffer forward takes the taps backwards.
    kernelRev_.fill(0.0f);
    slopeRev_.fill(0.0f);
    for (int i = 0; i < kTapCount - 1; ++i) {
        kernelRev_[i] = kernel_[kTapCount - 2 - i];
        slopeRev_[i] = slope_[kTapCount - 2 - i];
    }
    step_ = static_cast<std::uint64_t>(std::llround(ratio_ * kFixedOne));
    position_ = 0;
}

bool CRateConverter::Init(TWaveDataType dataType, int sampleRate)
{
    // The two float widths each serve both scales: the filter does not care.
    static constexpr TRoutine kRoutines[kPcmWaveDataTypes] = {
        &CRateConverter::Run<wdInt8>,       &CRateConverter::Run<wdInt16>,      &CRateConverter::Run<wdInt24>,
        &CRateConverter::Run<wdInt24In32>,  &CRateConverter::Run<wdInt32>,      &CRateConverter::Run<wdFloat32S16>,
        &CRateConverter::Run<wdFloat64S16>, &CRateConverter::Run<wdFloat32S16>, &CRateConverter::Run<wdFloat64S16>,
    };
    dataType_ = dataType;
    sampleRate_ = sampleRate;
    routine_ = dataType < kPcmWaveDataTypes ? kRoutines[dataType] : nullptr;
    return routine_ != nullptr;
}

void CRateConverter::Reset()
{
    for (auto& work : work_) {
        if (work.size() < kTapCount)
            work.assign(kTapCount + kWorkPad, 0.0f);
        std::fill_n(work.begin(), kTapCount, 0.0f);
    }
}

double CRateConverter::GetPosition() const
{
    return static_cast<double>(position_) / kFixedOne;
}

float CRateConverter::GetFrac() const
{
    return static_cast<float>(static_cast<std::uint32_t>(position_) >> 8) * 0x1p-24f;
}

std::size_t CRateConverter::Convert(double s, const void* const* channels, std::size_t inFrames,
                                    void* const* outChannels)
{
    if (!SetRatio(s) || routine_ == nullptr || inFrames == 0)
        return 0;
    PrepareWork(inFrames);
    return (this->*routine_)(channels, inFrames, outChannels);
}

void CRateConverter::PrepareWork(std::size_t inFrames)
{
    const std::size_t needed = kTapCount + inFrames + kWorkPad;
    for (auto& work : work_) {
        if (work.size() < needed)
            work.resize(needed, 0.0f); // the history, zero at first, stays in front
    }
}

template <TWaveDataType T>
std::size_t CRateConverter::Run(const void* const* channels, std::size_t inFrames, void* const* out)
{
    constexpr std::size_t bytes = GetDataBytes(T);
    float* const left = work_[0].data();
    float* const right = work_[1].data();
    {
        const auto* inLeft = static_cast<const std::byte*>(channels[0]);
        const auto* inRight = static_cast<const std::byte*>(channels[1]);
        for (std::size_t i = 0; i < inFrames; ++i) {
            left[kTapCount + i] = TSample<T>::Load(inLeft + i * bytes);
            right[kTapCount + i] = TSample<T>::Load(inRight + i * bytes);
        }
        std::fill_n(left + kTapCount + inFrames, kWorkPad, 0.0f);
        std::fill_n(right + kTapCount + inFrames, kWorkPad, 0.0f);
    }

    TFloat4 kernel[kPadded / 4], slope[kPadded / 4];
    for (int v = 0; v < kPadded / 4; ++v) {
        kernel[v] = Load4(kernelRev_.data() + 4 * v);
        slope[v] = Load4(slopeRev_.data() + 4 * v);
    }
    auto* outLeft = static_cast<std::byte*>(out[0]);
    auto* outRight = static_cast<std::byte*>(out[1]);
    const std::uint64_t limit = static_cast<std::uint64_t>(inFrames) << 32;
    std::uint64_t position = position_;
    std::size_t count = 0;
    while (position < limit) {
        const std::size_t m = static_cast<std::size_t>(position >> 32);
        // The top 24 fraction bits: exact in a float, and below 1.
        const float f = static_cast<float>(static_cast<std::uint32_t>(position) >> 8) * 0x1p-24f;
        const TFloat4 fv = {f, f, f, f};
        TFloat4 accLeft = {}, accRight = {};
        for (int v = 0; v < kPadded / 4; ++v) {
            const TFloat4 c = kernel[v] + fv * slope[v];
            accLeft += c * Load4(left + m + 4 * v);
            accRight += c * Load4(right + m + 4 * v);
        }
        TSample<T>::Store(outLeft + count * bytes, (accLeft[0] + accLeft[1]) + (accLeft[2] + accLeft[3]));
        TSample<T>::Store(outRight + count * bytes, (accRight[0] + accRight[1]) + (accRight[2] + accRight[3]));
        ++count;
        position += step_;
    }
    position_ = position - limit;

    // The last kTapCount frames of the stream become the history; for a short chunk that
    // includes the newest of the old history frames.
    std::memmove(left, left + inFrames, kTapCount * sizeof(float));
    std::memmove(right, right + inFrames, kTapCount * sizeof(float));
    return count;
}

} // namespace vantrel
