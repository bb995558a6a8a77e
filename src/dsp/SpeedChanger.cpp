#include "dsp/SpeedChanger.h"
#include "dsp/SampleAccess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace vantrel {
namespace {

struct TStepInfo {
    float ratio; // output frames per input frame, as the steps have always stored it
    int num;     // speed factor num / den
    int den;
};
// Indexed by step + 2.
constexpr std::array<TStepInfo, 13> kSteps{{
    {2.0f, 1, 2},
    {1.5f, 2, 3},
    {1.0f, 1, 1},
    {0.6666667f, 3, 2},
    {0.5f, 2, 1},
    {0.33333334f, 3, 1},
    {0.25f, 4, 1},
    {0.2f, 5, 1},
    {0.16666667f, 6, 1},
    {0.14285715f, 7, 1},
    {0.125f, 8, 1},
    {0.11111111f, 9, 1},
    {0.1f, 10, 1},
}};

const TStepInfo& StepInfo(int step)
{
    return kSteps[static_cast<std::size_t>(step - TSpeedChanger::kMinStep)];
}

using dsp_detail::TFormat;
using dsp_detail::TValue;

// Arithmetic of the kernels for integers held in a wider integer W.
template <class W> struct TIntMath {
    using Value = W;
    static Value Half(Value a, Value b) { return (a + b) >> 1; }
    static Value Mean(Value sum, int n) { return sum / n; }
    static Value FromDouble(double x) { return static_cast<Value>(x); } // truncates
};
template <class F> struct TFloatMath {
    using Value = F;
    static Value Half(Value a, Value b) { return (a + b) * F(0.5); }
    static Value Mean(Value sum, int n) { return sum / static_cast<F>(n); }
    static Value FromDouble(double x) { return static_cast<Value>(x); }
};
// Integers add in 32 bits, 32-bit containers in 64: two full-scale samples overflow 32.
template <TWaveDataType T>
using TMath = std::conditional_t<dsp_detail::kIsFloat<T>, TFloatMath<TValue<T>>,
                                 TIntMath<std::conditional_t<GetDataBytes(T) == 4, std::int64_t, std::int32_t>>>;

// One sample of a type as the kernels see it: Load gives its value (wdInt8 as byte - 128,
// wdInt24 sign-extended), Store writes a value back. Means of valid samples are valid samples,
// so only wdInt8's limit is ever needed.
template <TWaveDataType T> struct TSample : TMath<T> {
    using Value = typename TMath<T>::Value;
    static Value Load(const std::byte* p) { return TFormat<T>::Load(p); }
    static void Store(std::byte* p, Value v)
    {
        if constexpr (T == wdInt8)
            v = std::clamp(v, TFormat<T>::kMin, TFormat<T>::kMax);
        TFormat<T>::Store(p, static_cast<TValue<T>>(v));
    }
};

// The step kernels on one channel; each returns the frames written.
template <TWaveDataType T> struct TKernels {
    using S = TSample<T>;
    using V = typename S::Value;
    static constexpr std::size_t kBytes = GetDataBytes(T);

    const std::byte* x;
    std::byte* y;

    V In(std::size_t i) const { return S::Load(x + i * kBytes); }
    void Out(std::size_t i, V v) const { S::Store(y + i * kBytes, v); }

    // Step -2 (0.5x): every input frame is preceded by its mean with the frame before.
    std::size_t Double(std::size_t n, double previous) const
    {
        V prev = In(0);
        Out(0, S::FromDouble((previous + static_cast<double>(prev)) / 2.0));
        Out(1, prev);
        for (std::size_t m = 1; m < n; ++m) {
            const V cur = In(m);
            Out(2 * m, S::Half(prev, cur));
            Out(2 * m + 1, cur);
            prev = cur;
        }
        return 2 * n;
    }

    // Step -1 (2/3x): the mean goes between the two frames of each pair.
    std::size_t ThreeOfTwo(std::size_t n) const
    {
        std::size_t o = 0;
        for (std::size_t i = 0; i + 1 < n; i += 2) {
            const V a = In(i), b = In(i + 1);
            Out(o++, a);
            Out(o++, S::Half(a, b));
            Out(o++, b);
        }
        if (n % 2 != 0)
            Out(o++, In(n - 1));
        return o;
    }

    // Step 1 (1.5x): each group of three frames gives the means of its two overlapping pairs.
    std::size_t TwoOfThree(std::size_t n) const
    {
        const std::size_t groups = n / 3, r = n % 3;
        if (groups == 0) {
            if (r < 2)
                return 0;
            Out(0, S::Half(In(0), In(1)));
            return 1;
        }
        std::size_t o = 0;
        auto group = [&](std::size_t first) {
            const V a = In(first), b = In(first + 1), c = In(first + 2);
            Out(o++, S::Half(a, b));
            Out(o++, S::Half(b, c));
        };
        group(0);
        // The r frames left over sit between the first group and the others; two of them
        // give the output that floor(n * 2/3) counts for them.
        if (r == 2)
            Out(o++, S::Half(In(3), In(4)));
        for (std::size_t k = 1; k < groups; ++k)
            group(r + 3 * k);
        return o;
    }

    // Steps 2..10: means of step consecutive frames, the first n mod step frames dropped.
    std::size_t MeanOf(std::size_t n, int step) const
    {
        const auto width = static_cast<std::size_t>(step);
        const std::size_t outputs = n / width, r = n % width;
        for (std::size_t i = 0; i < outputs; ++i) {
            // wdInt8 has always taken its first mean from the chunk's first frames.
            const std::size_t first = T == wdInt8 && i == 0 ? 0 : r + width * i;
            V sum = 0;
            for (std::size_t k = 0; k < width; ++k)
                sum += In(first + k);
            Out(i, S::Mean(sum, step));
        }
        return outputs;
    }
};

} // namespace

TSpeedChanger::TSpeedChanger() : engine_(std::random_device{}()) {}

bool TSpeedChanger::SetSpeed(int code)
{
    if (code >= kMinStep && code <= kMaxStep) {
        SetStep(code);
        random_ = false;
        continuous_ = false;
    } else if (code == kContinuousSpeed) {
        continuous_ = true;
        random_ = false;
    } else if (code == kRandomSpeed) {
        random_ = true;
        continuous_ = false;
        countdown_ = 0;
    } else {
        return false;
    }
    return true;
}

void TSpeedChanger::SetStep(int step)
{
    step_ = step;
    ratio_ = StepInfo(step).ratio;
}

bool TSpeedChanger::SetSpeedEx(double factor)
{
    if (!(factor >= 0.5) || !std::isfinite(factor))
        return false;
    speedEx_.store(factor, std::memory_order_relaxed);
    return true;
}

bool TSpeedChanger::SetRandomRange(int maxStep, int minStep, int interval)
{
    if (maxStep > kMaxStep || minStep < kMinStep || minStep >= maxStep || interval <= 0)
        return false;
    maxStep_ = maxStep;
    minStep_ = minStep;
    interval_ = interval;
    return true;
}

void TSpeedChanger::SetRandomSource(TRandomSource source)
{
    randomSource_ = std::move(source);
}

double TSpeedChanger::GetSpeed() const
{
    if (continuous_)
        return GetSpeedEx();
    return static_cast<double>(1.0f / ratio_);
}

bool TSpeedChanger::Init(TWaveDataType dataType, int sampleRate)
{
    // The float types of either scale share a routine: the kernels do not depend on scale.
    static constexpr TRoutine kRoutines[kPcmWaveDataTypes] = {
        &TSpeedChanger::Run<wdInt8>,       &TSpeedChanger::Run<wdInt16>,      &TSpeedChanger::Run<wdInt24>,
        &TSpeedChanger::Run<wdInt24In32>,  &TSpeedChanger::Run<wdInt32>,      &TSpeedChanger::Run<wdFloat32S16>,
        &TSpeedChanger::Run<wdFloat64S16>, &TSpeedChanger::Run<wdFloat32S16>, &TSpeedChanger::Run<wdFloat64S16>,
    };
    rateConverter_.Init(dataType, sampleRate);
    dataType_ = dataType;
    sampleRate_ = sampleRate;
    routine_ = dataType < kPcmWaveDataTypes ? kRoutines[dataType] : nullptr;
    return routine_ != nullptr;
}

void TSpeedChanger::Reset()
{
    lastLeft_ = 0.0;
    lastRight_ = 0.0;
    rateConverter_.Reset();
}

bool TSpeedChanger::Tick(int sectors, int* newCode)
{
    if (continuous_) {
        if (newCode)
            *newCode = kContinuousSpeed;
        return true;
    }
    if (!random_)
        return false;
    if (--countdown_ >= 0)
        return false;

    const std::uint32_t draw = randomSource_ ? randomSource_() : static_cast<std::uint32_t>(engine_());
    const auto span = static_cast<std::uint32_t>(maxStep_ - minStep_ + 1);
    SetStep(minStep_ + static_cast<int>(draw % span));
    // The chunks that last `interval` seconds of playing at the new speed: a chunk holds
    // sectors / 75 seconds of disc, played in that time divided by the speed factor.
    const TStepInfo& info = StepInfo(step_);
    const std::int64_t chunks =
        std::int64_t{interval_} * 75 * info.num / (std::int64_t{info.den} * std::max(sectors, 1));
    countdown_ = static_cast<int>(std::min<std::int64_t>(chunks, std::numeric_limits<int>::max()));
    if (newCode)
        *newCode = step_;
    return true;
}

std::size_t TSpeedChanger::Process(const void* const* channels, std::size_t inFrames, void* const* outChannels)
{
    if (inFrames == 0 || routine_ == nullptr)
        return 0;
    return (this->*routine_)(channels, inFrames, outChannels);
}

template <TWaveDataType T>
std::size_t TSpeedChanger::Run(const void* const* channels, std::size_t inFrames, void* const* out)
{
    const TKernels<T> left{static_cast<const std::byte*>(channels[0]), static_cast<std::byte*>(out[0])};
    const TKernels<T> right{static_cast<const std::byte*>(channels[1]), static_cast<std::byte*>(out[1])};
    std::size_t frames = 0;
    if (continuous_) {
        frames = rateConverter_.Convert(GetSpeedEx(), channels, inFrames, out);
    } else {
        switch (step_) {
        case -2:
            frames = left.Double(inFrames, lastLeft_);
            right.Double(inFrames, lastRight_);
            break;
        case -1:
            frames = left.ThreeOfTwo(inFrames);
            right.ThreeOfTwo(inFrames);
            break;
        case 0:
            std::memcpy(out[0], channels[0], inFrames * GetDataBytes(T));
            std::memcpy(out[1], channels[1], inFrames * GetDataBytes(T));
            frames = inFrames;
            break;
        case 1:
            frames = left.TwoOfThree(inFrames);
            right.TwoOfThree(inFrames);
            break;
        default:
            frames = left.MeanOf(inFrames, step_);
            right.MeanOf(inFrames, step_);
            break;
        }
    }
    // Kept in every mode, so a change to step -2 joins on to the audio just played.
    lastLeft_ = static_cast<double>(left.In(inFrames - 1));
    lastRight_ = static_cast<double>(right.In(inFrames - 1));
    return frames;
}

} // namespace vantrel
