// The interface every audio output implements (sound servers, the ASIO-shaped driver, the
// WAV file) and the WAVE format record they describe their data with. The output manager
// only ever talks to an output through this class.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "dsp/WaveDataType.h"

namespace vantrel {

// A GUID in the layout of the Windows headers: in a file data1..data3 are little-endian,
// data4 is eight bytes as they stand.
struct TGuid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    friend bool operator==(const TGuid&, const TGuid&) = default;
};

// The WAVEFORMATEXTENSIBLE record. The plain forms (PCM, IEEE float) use its first 16 or 18
// bytes: a WAV file's fmt chunk is a prefix of Bytes().
struct TWaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0; // bytes after the first 18: 22 for the extensible form
    std::uint16_t validBitsPerSample = 0;
    std::uint32_t channelMask = 0;
    TGuid subFormat;

    static constexpr std::size_t kBytes = 40;
    // The record as stored in a file or handed to a device: every field little-endian.
    std::array<std::uint8_t, kBytes> Bytes() const;
    friend bool operator==(const TWaveFormat&, const TWaveFormat&) = default;
};

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

// The sub-format GUID of a format tag, {tag-0000-0010-8000-00AA00389B71}, for the tags that
// have one (PCM 1, IEEE float 3, DTS 8, AC3 over S/PDIF 0x0092 and 0x0240); all zero else.
TGuid SubFormatOfTag(std::uint16_t formatTag);

// Plain PCM: tag 1, block align channels * (bits / 8), extra size 0.
TWaveFormat MakePcmFormat(int channels, int bits, int sampleRate);
// The format of a data type (tag, bits and bytes from its table); with extensible set, the
// extensible form with valid bits = the type's bits, the channel mask and the sub-format of
// the type's tag.
TWaveFormat MakeFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels, std::uint32_t channelMask);

// Frames of a buffer of lengthMs milliseconds: rate * length / 1000, rounded down.
unsigned BufferFramesFor(int sampleRate, unsigned lengthMs);

// The operations are in the order of the outputs' slot table; where an output does not
// support one, it does nothing and returns false (or 0). The setters are called only while
// the output is closed; each output says which it refuses while open.
//
// An output belongs to the thread that drives it: Open on the thread that starts playback,
// then every call from the playback thread. Outputs synchronise with their own device
// threads themselves.
class TAudioOut {
public:
    TAudioOut() = default;
    // Derived outputs stop and close what is open in their own destructors.
    virtual ~TAudioOut() = default;
    TAudioOut(const TAudioOut&) = delete;
    TAudioOut& operator=(const TAudioOut&) = delete;

    virtual bool SetFormat(int channels, int bits, int sampleRate) = 0;
    virtual bool SetFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels,
                             std::uint32_t channelMask) = 0;
    virtual bool SetDataType(TWaveDataType) { return false; }
    virtual bool SetSampleRate(int) { return false; }
    // outputChannels entries in sources: the source channel of each output channel, -1 for
    // silence.
    virtual bool SetChannelMap(int /*sourceChannels*/, int /*outputChannels*/, std::span<const int> /*sources*/)
    {
        return false;
    }
    virtual bool IsAsioOut() const { return false; }
    virtual bool SetBuffer(unsigned lengthMs, std::uint8_t count) = 0;
    virtual unsigned GetBufferBytes() const = 0;
    virtual unsigned GetBufferFrames() const = 0;
    // How long Write waits for a free buffer; 0 waits without limit.
    virtual void SetTimeout(unsigned /*milliseconds*/) {}
    // The device: an index for the sound devices, a path for the WAV file. An output takes
    // the one that fits it and refuses the other.
    virtual bool SetDevice(int /*index*/) { return false; }
    virtual bool SetDevice(const std::string& /*path*/) { return false; }
    virtual bool Open() = 0;
    virtual bool Close() = 0;
    // Interleaved bytes of the output format; a count of 0 is the drain step of the
    // buffered outputs.
    virtual bool Write(const void* data, std::size_t bytes) = 0;
    virtual bool WriteFrames(const void* /*data*/, std::size_t /*frames*/) { return false; }
    virtual bool WritePlanar(const void* const* /*channels*/, std::size_t /*frames*/) { return false; }
    virtual bool Reset() = 0;
    virtual bool Pause() = 0;
    virtual bool Restart() = 0;
    virtual int GetNumDevs() = 0;
    virtual std::string GetDevName(int index) = 0;

    // "TDiskOut", ... for the outputs; nothing depends on it.
    const std::string& GetName() const { return name_; }
    // Why the output stopped working, empty while it works. A refused write that the
    // output can recover from (a device timeout) leaves it empty; a lasting failure (a
    // write error on the WAV file) sets it and keeps it until the next Open.
    const std::string& GetLastError() const { return lastError_; }

protected:
    std::string name_ = "AudioOut";
    std::string lastError_;
};

// What the ASIO output takes beyond the common interface. The output manager hands these
// over in Open, after the format and the channel map, to an output that implements it.
class TAsioControls {
public:
    // Buffer size step and direct monitor together; refused unless closed.
    virtual bool SetAsioParams(int bufSizeStep, bool directMonitor) = 0;
    // The thread priority value of the output's control thread; taken at any time.
    virtual void SetPriority(int priority) = 0;

protected:
    ~TAsioControls() = default;
};

} // namespace vantrel
