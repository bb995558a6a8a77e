#include "dsp/VolumeChanger.h"
#include "dsp/SampleAccess.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vantrel {
namespace {


using dsp_detail::Get;
using dsp_detail::Put;
using dsp_detail::Saturate32;
using dsp_detail::TruncLimit;

void ScaleInt8(void* samples, std::size_t count, double gain)
{
    const float g = static_cast<float>(gain);
    auto* p = static_cast<std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i)
        p[i] = static_cast<std::uint8_t>(TruncLimit(static_cast<float>(p[i] - 128) * g, -128.0f, 127.0f) + 128);
}

void ScaleInt16(void* samples, std::size_t count, double gain)
{
    const float g = static_cast<float>(gain);
    for (std::size_t i = 0; i < count; ++i) {
        const float t = static_cast<float>(Get<std::int16_t>(samples, i)) * g;
        Put(samples, i, static_cast<std::int16_t>(TruncLimit(t, -32768.0f, 32767.0f)));
    }
}

// The 3 bytes are the top of a 32-bit value, so the 24-bit type clips like wdInt32.
void ScaleInt24(void* samples, std::size_t count, double gain)
{
    const float g = static_cast<float>(gain);
    auto* p = static_cast<std::uint8_t*>(samples);
    for (std::size_t i = 0; i < count; ++i, p += 3) {
        const auto w =
            static_cast<std::int32_t>(std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 24);
        const auto r = static_cast<std::uint32_t>(Saturate32(static_cast<float>(w) * g));
        p[0] = static_cast<std::uint8_t>(r >> 8);
        p[1] = static_cast<std::uint8_t>(r >> 16);
        p[2] = static_cast<std::uint8_t>(r >> 24);
    }
}

// The type has headroom above 24 bits, so only its 32-bit container limits the result.
void ScaleInt24In32(void* samples, std::size_t count, double gain)
{
    const float g = static_cast<float>(gain);
    for (std::size_t i = 0; i < count; ++i)
        Put(samples, i, Saturate32(static_cast<float>(Get<std::int32_t>(samples, i)) * g));
}

void ScaleInt32(void* samples, std::size_t count, double gain)
{
    ScaleInt24In32(samples, count, gain); // the same rule on the full 32-bit value
}

template <class F> void ScaleFloat(void* samples, std::size_t count, double gain)
{
    const F g = static_cast<F>(gain);
    for (std::size_t i = 0; i < count; ++i)
        Put(samples, i, static_cast<F>(Get<F>(samples, i) * g));
}

// Indexed by data type, codes 0 to 8; each float width serves both of its scales.
constexpr std::array<TVolumeChanger::TRoutine, kPcmWaveDataTypes> kRoutines{
    ScaleInt8,         ScaleInt16,         ScaleInt24,        ScaleInt24In32,     ScaleInt32,
    ScaleFloat<float>, ScaleFloat<double>, ScaleFloat<float>, ScaleFloat<double>,
};

} // namespace

void TVolumeChanger::SetVolume(double gainLeft, double gainRight)
{
    gainLeft_.store(gainLeft, std::memory_order_relaxed);
    gainRight_.store(gainRight, std::memory_order_relaxed);
}

bool TVolumeChanger::Init(TWaveDataType dataType, int /*sampleRate*/)
{
    dataType_ = dataType;
    routine_ = dataType < kRoutines.size() ? kRoutines[dataType] : nullptr;
    return routine_ != nullptr;
}

void TVolumeChanger::Process(void* const* channels, std::size_t frames)
{
    const double gains[2] = {gainLeft_.load(std::memory_order_relaxed), gainRight_.load(std::memory_order_relaxed)};
    if (!routine_)
        return;
    for (int c = 0; c < 2; ++c)
        if (gains[c] != 1.0)
            routine_(channels[c], frames, gains[c]);
}

} // namespace vantrel
