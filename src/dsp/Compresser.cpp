#include "dsp/Compresser.h"
#include "dsp/SampleAccess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <type_traits>

namespace vantrel {
namespace {

constexpr std::array<float, kPcmWaveDataTypes> kFullScale{127.0f, 32767.0f, 8388607.0f, 8388607.0f, 2147483648.0f,
                                                          1.0f,   1.0f,     32767.0f,   32767.0f};

using dsp_detail::TFormat;
using dsp_detail::TValue;

// Integer samples are measured as 64-bit values (|-2^31| fits) and scaled as an integer times
// a float gain is in C: in float, so 1000 at the limit 1.8 gives 1800 and not 1799.99995.
// Scaling limits to the range the type holds.
template <TWaveDataType T> struct TIntSample {
    using Value = std::int64_t;
    static constexpr Value kLo = TFormat<T>::kMin;
    static constexpr Value kHi = TFormat<T>::kMax;
    static Value Load(const std::byte* p) { return TFormat<T>::Load(p); }
    static void Store(std::byte* p, Value v) { TFormat<T>::Store(p, static_cast<TValue<T>>(v)); }
    static Value Magnitude(Value v) { return v < 0 ? -v : v; }
    static Value Scale(Value v, float g)
    {
        // float(kHi) may round up to 2^31: limiting against it first keeps the cast in range.
        float t = static_cast<float>(v) * g;
        if (t >= static_cast<float>(kHi))
            return kHi;
        t = t > static_cast<float>(kLo) ? t : static_cast<float>(kLo);
        return static_cast<Value>(t); // truncates toward zero
    }
};
template <TWaveDataType T> struct TFloatSample {
    using Value = TValue<T>;
    static Value Load(const std::byte* p) { return TFormat<T>::Load(p); }
    static void Store(std::byte* p, Value v) { TFormat<T>::Store(p, v); }
    static Value Magnitude(Value v) { return std::abs(v); }
    static Value Scale(Value v, float g) { return v * static_cast<Value>(g); }
};

template <TWaveDataType T> using TSample = std::conditional_t<dsp_detail::kIsFloat<T>, TFloatSample<T>, TIntSample<T>>;

} // namespace

TCompresser::TCompresser() = default;

float TCompresser::FullScale(TWaveDataType type)
{
    return type < kPcmWaveDataTypes ? kFullScale[type] : 0.0f;
}

void TCompresser::SetParams(int blockMs, float avgVolume, float ratio1, float ratio2, float maxAmp, float gain,
                            bool avgFromPeak, float topShare)
{
    blockMs_.store(blockMs, std::memory_order_relaxed);
    avgVolume_.store(avgVolume, std::memory_order_relaxed);
    ratio1_.store(ratio1, std::memory_order_relaxed);
    ratio2_.store(ratio2, std::memory_order_relaxed);
    maxAmp_.store(maxAmp, std::memory_order_relaxed);
    gain_.store(gain, std::memory_order_relaxed);
    avgFromPeak_.store(avgFromPeak, std::memory_order_relaxed);
    topShare_.store(topShare, std::memory_order_relaxed);
    UpdateBlockFrames();
}

void TCompresser::UpdateBlockFrames()
{
    const std::int64_t frames =
        std::int64_t{sampleRate_.load(std::memory_order_relaxed)} * blockMs_.load(std::memory_order_relaxed) / 1000;
    blockFrames_.store(static_cast<int>(std::clamp<std::int64_t>(frames, 1, std::numeric_limits<int>::max())),
                       std::memory_order_relaxed);
}

bool TCompresser::Init(TWaveDataType dataType, int sampleRate)
{
    // The float types of either scale share a routine; only the full scale differs.
    static constexpr TRoutine kRoutines[kPcmWaveDataTypes] = {
        &TCompresser::Run<wdInt8>,       &TCompresser::Run<wdInt16>,      &TCompresser::Run<wdInt24>,
        &TCompresser::Run<wdInt24In32>,  &TCompresser::Run<wdInt32>,      &TCompresser::Run<wdFloat32S16>,
        &TCompresser::Run<wdFloat64S16>, &TCompresser::Run<wdFloat32S16>, &TCompresser::Run<wdFloat64S16>,
    };
    sampleRate_.store(sampleRate, std::memory_order_relaxed);
    UpdateBlockFrames();
    dataType_ = dataType;
    fullScale_ = FullScale(dataType);
    routine_ = dataType < kPcmWaveDataTypes ? kRoutines[dataType] : nullptr;
    return routine_ != nullptr;
}

TCompresser::TSettings TCompresser::Settings() const
{
    constexpr auto relaxed = std::memory_order_relaxed;
    return {blockFrames_.load(relaxed), avgVolume_.load(relaxed), ratio1_.load(relaxed),      ratio2_.load(relaxed),
            maxAmp_.load(relaxed),      gain_.load(relaxed),      avgFromPeak_.load(relaxed), topShare_.load(relaxed)};
}

float TCompresser::GainFor(float level, const TSettings& s) const
{
    const float target = s.avgVolume * fullScale_;
    float g;
    if (level == 0.0f) {
        g = 1.0f;
    } else if (level > target) {
        g = (target + (level - target) * s.ratio1) / level;
    } else {
        g = (level + (target - level) * s.ratio2) / level;
        if (g > s.maxAmp)
            g = s.maxAmp;
    }
    g *= s.gain;
    return g == g ? g : 1.0f; // a NaN setting (or a NaN sample level) leaves the audio as it is
}

void TCompresser::Process(void* const* channels, std::size_t frames)
{
    if (routine_ != nullptr && IsEnabled())
        (this->*routine_)(channels, frames);
}

template <TWaveDataType T> void TCompresser::Run(void* const* channels, std::size_t frames)
{
    using S = TSample<T>;
    using V = typename S::Value;
    constexpr std::size_t bytes = GetDataBytes(T);
    constexpr bool isFloat = std::is_floating_point_v<V>;
    auto* const left = static_cast<std::byte*>(channels[0]);
    auto* const right = static_cast<std::byte*>(channels[1]);

    std::size_t start = 0;
    while (start < frames) {
        const TSettings s = Settings();
        const std::size_t b = std::min(static_cast<std::size_t>(s.blockFrames), frames - start);
        std::byte* const l = left + start * bytes;
        std::byte* const r = right + start * bytes;
        const std::size_t count = 2 * b;

        std::size_t top = count;
        if (!s.avgFromPeak) {
            const double wanted = static_cast<double>(count) * static_cast<double>(s.topShare);
            top = wanted >= static_cast<double>(count) ? count
                  : wanted >= 1.0                      ? static_cast<std::size_t>(wanted)
                                                       : 1; // NaN too
        }

        float level;
        if (s.avgFromPeak) {
            V peak = 0;
            for (std::size_t i = 0; i < b; ++i)
                peak = std::max({peak, S::Magnitude(S::Load(l + i * bytes)), S::Magnitude(S::Load(r + i * bytes))});
            level = static_cast<float>(peak);
        } else if (top == count) {
            V sum = 0;
            for (std::size_t i = 0; i < b; ++i)
                sum += S::Magnitude(S::Load(l + i * bytes)) + S::Magnitude(S::Load(r + i * bytes));
            level = static_cast<float>(sum / static_cast<V>(count));
        } else {
            // Only the sum of the `top` largest magnitudes matters, not their order.
            auto& magnitudes = *[this] {
                if constexpr (isFloat)
                    return &floatMagnitudes_;
                else
                    return &intMagnitudes_;
            }();
            if (magnitudes.size() < count)
                magnitudes.resize(count);
            for (std::size_t i = 0; i < b; ++i) {
                magnitudes[2 * i] = S::Magnitude(S::Load(l + i * bytes));
                magnitudes[2 * i + 1] = S::Magnitude(S::Load(r + i * bytes));
            }
            const auto first = magnitudes.begin();
            const auto nth = first + static_cast<std::ptrdiff_t>(top);
            std::nth_element(first, nth - 1, first + static_cast<std::ptrdiff_t>(count), std::greater<>());
            V sum = 0;
            for (auto it = first; it != nth; ++it)
                sum += static_cast<V>(*it);
            level = static_cast<float>(sum / static_cast<V>(top));
        }

        const float g = GainFor(level, s);
        for (std::size_t i = 0; i < b; ++i) {
            S::Store(l + i * bytes, S::Scale(S::Load(l + i * bytes), g));
            S::Store(r + i * bytes, S::Scale(S::Load(r + i * bytes), g));
        }
        start += b;
    }
}

} // namespace vantrel
