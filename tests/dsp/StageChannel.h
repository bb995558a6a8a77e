// Test support shared by the signal-stage tests: channel buffers of any sample type,
// written and read as numbers, and running a stage on a left/right pair of them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/WaveDataType.h"

namespace vantrel::testing {

inline constexpr TWaveDataType kPcmTypes[] = {wdInt8,    wdInt16,   wdInt24,      wdInt24In32, wdInt32,
                                       wdFloat32, wdFloat64, wdFloat32S16, wdFloat64S16};

// One channel buffer, written and read as numbers: wdInt8 as its byte (128 is zero),
// wdInt24 as the signed 24-bit value, floats rounded to their width.
class TChannel {
public:
    TChannel(TWaveDataType type, const std::vector<double>& values)
        : type_(type), bytes_(values.size() * GetDataBytes(type))
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            Set(i, values[i]);
    }
    void* Data() { return bytes_.data(); }
    std::size_t Size() const { return bytes_.size() / GetDataBytes(type_); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

    double operator[](std::size_t i) const
    {
        const std::uint8_t* p = bytes_.data() + i * GetDataBytes(type_);
        switch (type_) {
        case wdInt8:
            return *p;
        case wdInt16:
            return Read<std::int16_t>(p);
        case wdInt24:
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8) >> 8;
        case wdInt24In32:
        case wdInt32:
            return Read<std::int32_t>(p);
        case wdFloat32:
        case wdFloat32S16:
            return Read<float>(p);
        default:
            return Read<double>(p);
        }
    }

private:
    template <class T> static T Read(const std::uint8_t* p)
    {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    template <class T> void Write(std::size_t i, T v) { std::memcpy(bytes_.data() + i * sizeof v, &v, sizeof v); }
    void Set(std::size_t i, double value)
    {
        switch (type_) {
        case wdInt8:
            bytes_[i] = static_cast<std::uint8_t>(value);
            break;
        case wdInt16:
            Write(i, static_cast<std::int16_t>(value));
            break;
        case wdInt24: {
            const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
            for (int b = 0; b < 3; ++b)
                bytes_[3 * i + b] = static_cast<std::uint8_t>(v >> (8 * b));
            break;
        }
        case wdInt24In32:
        case wdInt32:
            Write(i, static_cast<std::int32_t>(value));
            break;
        case wdFloat32:
        case wdFloat32S16:
            Write(i, static_cast<float>(value));
            break;
        default:
            Write(i, value);
        }
    }

    TWaveDataType type_;
    std::vector<std::uint8_t> bytes_;
};

inline std::string Name(TWaveDataType type)
{
    static const char* const names[] = {"Int8",    "Int16",   "Int24",      "Int24In32", "Int32",
                                        "Float32", "Float64", "Float32S16", "Float64S16"};
    return names[type];
}

// Runs a per-chunk stage in place on the pair.
template <class Stage>
void Process(Stage& stage, TChannel& left, TChannel& right)
{
    void* const channels[2] = {left.Data(), right.Data()};
    stage.Process(channels, left.Size());
}

}  // namespace vantrel::testing
