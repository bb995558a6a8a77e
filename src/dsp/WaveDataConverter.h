// Converts samples between two of the nine PCM data types (codes 0 to 8) while splitting
// interleaved audio into one buffer per channel or joining such buffers again. SetFormats
// picks one routine per direction for the pair, so the per-sample loops hold no type switch.
#pragma once

#include <cstddef>

#include "dsp/WaveDataType.h"

namespace vantrel {

// Rules shared by every pair: conversions from floats to integers truncate toward zero and
// clip to the destination's range (for wdInt24In32 the 32-bit container's: it may exceed the
// 24-bit scale); a NaN sample becomes silence and an infinite one the bound on its side.
// Integer narrowing shifts right, rounding toward minus infinity. Nothing dithers. Identical
// types are copied bit for bit. Float arithmetic is done in double.
//
// The converter owns no buffer; it belongs to whoever set it up (the output manager) and its
// const operations may then run on any one thread at a time, typically the playback thread.
// Buffers hold plain arrays of their sample type (wdInt24 as 3-byte groups) and need no
// particular alignment.
class TWaveDataConverter {
public:
    using TDeinterleaveRoutine = void (*)(std::size_t frames, int channels, const void* source,
                                          void* const* destinations);
    using TInterleaveRoutine = void (*)(std::size_t frames, int channels, const void* const* sources,
                                        void* destination);

    TWaveDataConverter(); // wdInt16 to wdInt16, 2 channels

    // Stores both types and their sizes and picks the pair's routines; a pair with a code
    // outside 0 to 8 gets none, and both operations then write nothing.
    void SetFormats(TWaveDataType source, TWaveDataType destination);
    void SetChannels(int count);

    // Sample i of frame j, at source index j*channels + i, becomes element j of channel
    // buffer i. Returns the bytes written to each channel buffer (frames * destination
    // bytes), or 0 when the pair has no routine or the channel count is below 1.
    std::size_t Deinterleave(std::size_t frames, const void* source, void* const* destinations) const;
    // The reverse: element j of channel buffer i becomes destination index j*channels + i.
    // Returns the bytes written (frames * channels * destination bytes), or 0 as above.
    std::size_t Interleave(std::size_t frames, const void* const* sources, void* destination) const;

    TWaveDataType GetSourceType() const { return srcType_; }
    TWaveDataType GetDestinationType() const { return dstType_; }
    int GetSourceBytes() const { return srcBytes_; }
    int GetDestinationBytes() const { return dstBytes_; }
    int GetChannels() const { return channels_; }

private:
    int srcBytes_ = 2;
    int dstBytes_ = 2;
    TWaveDataType srcType_ = wdInt16;
    TWaveDataType dstType_ = wdInt16;
    int channels_ = 2;
    TDeinterleaveRoutine deinterleave_ = nullptr;
    TInterleaveRoutine interleave_ = nullptr;
};

} // namespace vantrel
