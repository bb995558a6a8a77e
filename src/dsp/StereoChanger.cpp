#include "dsp/StereoChanger.h"
#include "dsp/SampleAccess.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vantrel {
namespace {

using dsp_detail::Get;
using dsp_detail::Put;

// How a type's samples are read as numbers and written back. Integers are combined in 64
// bits, so no sum overflows; Store clips to the type's range.
struct TUnsigned8 {
    using Value = std::int64_t;
    static Value Load(const void* p, std::size_t i) { return static_cast<const std::uint8_t*>(p)[i]; }
    static void Store(void* p, std::size_t i, Value v)
    {
        static_cast<std::uint8_t*>(p)[i] = static_cast<std::uint8_t>(v);
    }
    // The raw bytes keep their offset of 128 through the average; the difference gets it back.
    static Value Side(Value l, Value r) { return ((l - r) >> 1) + 128; }
};

template <class Stored, std::int64_t Lo, std::int64_t Hi> struct TSignedInt {
    using Value = std::int64_t;
    static Value Load(const void* p, std::size_t i) { return Get<Stored>(p, i); }
    static void Store(void* p, std::size_t i, Value v) { Put(p, i, static_cast<Stored>(std::clamp(v, Lo, Hi))); }
    static Value Side(Value l, Value r) { return (l - r) >> 1; }
};

struct TPacked24 {
    using Value = std::int64_t;
    using F = dsp_detail::TFormat<wdInt24>;
    static Value Load(const void* p, std::size_t i) { return F::Load(static_cast<const std::byte*>(p) + 3 * i); }
    static void Store(void* p, std::size_t i, Value v)
    {
        F::Store(static_cast<std::byte*>(p) + 3 * i, static_cast<F::Value>(std::clamp<Value>(v, F::kMin, F::kMax)));
    }
    static Value Side(Value l, Value r) { return (l - r) >> 1; }
};

// The 24-bit scale in a 32-bit container may exceed 24 bits; nothing limits it here, and
// half of any sum of two int32 values fits the container again.
struct TInt24In32 : TSignedInt<std::int32_t, INT32_MIN, INT32_MAX> {};

template <class F> struct TFloat {
    using Value = F;
    static Value Load(const void* p, std::size_t i) { return Get<F>(p, i); }
    static void Store(void* p, std::size_t i, Value v) { Put(p, i, v); }
    static Value Side(Value l, Value r) { return (l - r) * F(0.5); }
};

template <class T> typename T::Value Mix(typename T::Value l, typename T::Value r)
{
    if constexpr (std::is_floating_point_v<typename T::Value>)
        return (l + r) * typename T::Value(0.5);
    else
        return (l + r) >> 1;
}

template <class T> void MixRoutine(void* left, void* right, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        const auto m = Mix<T>(T::Load(left, i), T::Load(right, i));
        T::Store(left, i, m);
        T::Store(right, i, m);
    }
}

template <class T> void SideRoutine(void* left, void* right, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        const auto m = T::Side(T::Load(left, i), T::Load(right, i));
        T::Store(left, i, m);
        T::Store(right, i, m);
    }
}

template <class T> constexpr TStereoChanger::TRoutines kRoutinesOf{MixRoutine<T>, SideRoutine<T>};

// Indexed by data type, codes 0 to 8; each float width serves both of its scales.
constexpr std::array<const TStereoChanger::TRoutines*, kPcmWaveDataTypes> kRoutines{
    &kRoutinesOf<TUnsigned8>,
    &kRoutinesOf<TSignedInt<std::int16_t, -32768, 32767>>,
    &kRoutinesOf<TPacked24>,
    &kRoutinesOf<TInt24In32>,
    &kRoutinesOf<TSignedInt<std::int32_t, INT32_MIN, INT32_MAX>>,
    &kRoutinesOf<TFloat<float>>,
    &kRoutinesOf<TFloat<double>>,
    &kRoutinesOf<TFloat<float>>,
    &kRoutinesOf<TFloat<double>>,
};

} // namespace

bool TStereoChanger::SetMode(int mode)
{
    if (mode < smStereo || mode > smSide)
        return false;
    mode_.store(static_cast<std::uint8_t>(mode), std::memory_order_relaxed);
    return true;
}

bool TStereoChanger::Init(TWaveDataType dataType, int /*sampleRate*/)
{
    dataType_ = dataType;
    routines_ = dataType < kRoutines.size() ? kRoutines[dataType] : nullptr;
    sampleBytes_ = routines_ ? static_cast<std::size_t>(GetDataBytes(dataType)) : 0;
    return routines_ != nullptr;
}

void TStereoChanger::Process(void* const* channels, std::size_t frames)
{
    const auto mode = mode_.load(std::memory_order_relaxed);
    if (!routines_ || frames == 0)
        return;
    switch (mode) {
    case smLeft:
        std::memmove(channels[1], channels[0], frames * sampleBytes_);
        break;
    case smRight:
        std::memmove(channels[0], channels[1], frames * sampleBytes_);
        break;
    case smMix:
        routines_->mix(channels[0], channels[1], frames);
        break;
    case smSide:
        routines_->side(channels[0], channels[1], frames);
        break;
    default:
        break;
    }
}

} // namespace vantrel
