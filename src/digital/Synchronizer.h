// Lines up each freshly read block of CD audio with the audio already delivered. A drive may
// start a read a few samples away from the asked address; the reader re-reads some frames of
// overlap, and this finds where the previous block's last samples recur in the new one.
#pragma once

#include <cstdint>
#include <memory>

namespace vantrel {

// What Process found. The reader cuts the block at the returned offset whatever the result.
enum TSyncResult : std::uint8_t {
    srDisabled = 0,       // no compare frames: cut at the nominal skip
    srNoReference = 1,    // first block since Setup or Reset: cut at the nominal skip
    srMatchAfter = 2,     // the reference recurs at or after its expected place
    srMatchBefore = 3,    // the reference recurs before its expected place
    srNoMatch = 15,       // not within the search range: cut at the nominal skip
    srSkipTooLarge = 255, // the skip covers the whole block: all of it is delivered
};

// Works in samples of 4 bytes (one 16-bit stereo pair). One per play, owned and called by
// the reading thread only.
class TSynchronizer {
public:
    // Frees any reference and keeps the last `frames` frames of each block from now on;
    // 0 disables synchronization. False, leaving it disabled, when the reference cannot be
    // allocated (a negative count included).
    bool Setup(int frames);
    // Forgets the reference: the next block is cut at the nominal skip and only refills it.
    void Reset() { held_ = 0; }

    // `data` holds `length` samples of a new block, whose first `skip` samples repeat audio
    // already delivered if the drive read exactly where asked. On return the samples to
    // deliver are [outOffset, length), outLength = length - outOffset. The reference is
    // searched for around its expected place skip - held, alternately after and before it
    // (after first at equal distance), and must match bit for bit. Negative counts are
    // taken as 0.
    TSyncResult Process(const void* data, int length, int& outLength, int& outOffset, int skip);

    int GetFrames() const { return frames_; } // 0 while disabled
    int GetHeld() const { return held_; }     // samples in the reference

private:
    std::unique_ptr<std::uint8_t[]> reference_;
    std::int32_t frames_ = 0;
    std::int32_t held_ = 0;
};

} // namespace vantrel
