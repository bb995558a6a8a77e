// Test support shared by the signal-stage tests: channel buffers of any sample type,
// written and read as numbers, and running a stage on a left/right pair of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "SampleValues.h"
#include "dsp/WaveDataType.h"

namespace vantrel::testing {

// One channel buffer, written and read as numbers (see WriteSample): wdInt8 as its byte
// unless the channel is made on the signed scale.
class TChannel {
public:
    TChannel(TWaveDataType type, const std::vector<double>& values, TInt8Scale int8 = TInt8Scale::Byte)
        : type_(type), int8_(int8), bytes_(values.size() * GetDataBytes(type))
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            Set(i, values[i]);
    }
    TWaveDataType Type() const { return type_; }
    // The buffer from the given frame on.
    void* Data(std::size_t frame = 0) { return bytes_.data() + frame * GetDataBytes(type_); }
    std::size_t Size() const { return bytes_.size() / GetDataBytes(type_); }
    void Resize(std::size_t frames) { bytes_.resize(frames * GetDataBytes(type_)); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    double operator[](std::size_t i) const { return ReadSample(type_, bytes_.data() + i * GetDataBytes(type_), int8_); }
    void Set(std::size_t i, double value) { WriteSample(type_, bytes_.data() + i * GetDataBytes(type_), value, int8_); }

private:
    TWaveDataType type_;
    TInt8Scale int8_;
    std::vector<std::uint8_t> bytes_;
};

// A channel of random bytes: any bit pattern a stage may meet, NaNs and infinities included.
inline TChannel RandomChannel(TWaveDataType type, std::size_t frames, std::mt19937& random)
{
    TChannel channel(type, std::vector<double>(frames));
    auto* const bytes = static_cast<std::uint8_t*>(channel.Data());
    for (std::size_t i = 0; i < channel.Bytes().size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(random());
    return channel;
}

// Runs a per-chunk stage in place on the pair.
template <class Stage> void Process(Stage& stage, TChannel& left, TChannel& right)
{
    void* const channels[2] = {left.Data(), right.Data()};
    stage.Process(channels, left.Size());
}

} // namespace vantrel::testing
