// Lines up the sub-channel packs of overlapping reads. The digital player re-reads a few
// sectors of every run; this keeps the last packs of each run and finds where they recur in
// the next, so that each pack is handed over once even when the drive starts a little off.
#pragma once

#include <cstdint>
#include <memory>

namespace vantrel {

// What Sync found. Whatever the result, the new packs are [outStart, outStart + outCount).
enum TCdgSyncResult : std::uint8_t {
    csOff = 0,             // re-synchronisation off (capacity 0, or no tail): cut at the offset
    csNothingHeld = 1,     // first run since Init or ForgetTail: cut at the offset
    csFoundForward = 2,    // the held tail recurs at or after its expected place
    csFoundBackward = 3,   // the held tail recurs before its expected place
    csNotFound = 15,       // not within the search range: cut at the offset
    csOffsetTooLarge = 255 // the offset covers the whole run: all of it is handed over
};

// Works on packs of 24 bytes, 4 to a sector, compared byte for byte (mask them to R-W
// first). One per play, owned and called by the reading thread only.
class TCdgSync {
public:
    // Keeps the last capacity sectors (4 x capacity packs) of each run from now on, holding
    // nothing yet; 0 switches re-synchronisation off. False, leaving it off, when the tail
    // cannot be allocated.
    bool Init(std::uint32_t capacity);
    // Packs between the places tried. 0 would never move on, so it is taken as 1.
    void SetStep(std::uint8_t step);
    // After a seek: the next run has nothing to match.
    void ForgetTail() { held_ = 0; }

    // packs: count packs of one read run, the first offset of which repeat the previous run
    // when the drive read exactly where asked (offset = 4 x the repeated sectors). The held
    // tail is looked for where it should begin, offset - held, then step by step forward
    // and backward (forward first at each distance); a match must lie wholly inside the run.
    // Afterwards the tail holds the last packs of this run, unless the result is
    // csOffsetTooLarge.
    TCdgSyncResult Sync(const std::uint8_t* packs, std::uint32_t count, std::uint32_t& outCount,
                        std::uint32_t& outStart, std::uint32_t offset);

    std::uint32_t Capacity() const { return capacity_; } // sectors; 0 while off
    std::uint32_t Held() const { return held_; }         // packs

private:
    void Keep(const std::uint8_t* packs, std::uint32_t count);

    std::unique_ptr<std::uint8_t[]> tail_; // capacity_ x 96 bytes
    std::uint32_t capacity_ = 0;
    std::uint32_t held_ = 0;
    std::uint8_t step_ = 4;
};

} // namespace vantrel
