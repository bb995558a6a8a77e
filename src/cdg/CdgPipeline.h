// The digital player's sub-channel steps for one read run: mask the bytes to R-W, drop the
// packs the run repeats, and for raw sub-channel de-interleave and correct them, leaving the
// packs to hand over to the player component's TCdgBuffer. No drive, no thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cdg/CdgSync.h"
#include "cdg/SubCodeErrorCorrect.h"
#include "cdg/SubCodeInterLeave.h"

namespace vantrel {

// Keeps bits 5..0 (channels R-W) of n sub-channel bytes. Analog play, which neither
// re-synchronises nor de-interleaves, needs only this.
void MaskToRw(std::uint8_t* bytes, std::size_t n);

struct TCdgPipelineSetup {
    // True when the drive delivers raw P-W (read mode SubCodeRAW): packs are de-interleaved
    // and corrected here. False for R-W the drive already de-interleaved and corrected
    // (SubCodeRW): packs are handed over as read. Other read modes carry no CD+G.
    bool raw = true;
    bool correct = true;            // P then Q correction of raw packs (CdgScreen RsEnabled)
    std::uint32_t syncSectors = 0;  // overlap sectors to re-synchronise over; 0 off (CdgSync)
    std::uint8_t syncStep = 4;      // search step in packs (CdgSyncOffset); 0 is taken as 1
};

// The packs one run hands over: count x 24 bytes inside the run's own buffer.
struct TCdgRunPacks {
    const std::uint8_t* packs = nullptr;
    std::uint32_t count = 0;
    TCdgSyncResult sync = csOff; // how the run was lined up (not needed to hand over)
};

// Created with the digital player (so the shared correction tables exist before its reading
// thread starts); Setup, Restart and Process then belong to the reading thread.
class TCdgPipeline {
public:
    // At the start of play: takes the settings and empties the delay line and the held
    // tail. False when the re-synchronisation tail cannot be allocated; the pipeline works
    // on without re-synchronising.
    bool Setup(const TCdgPipelineSetup& setup);
    // After a seek: the next run matches nothing held and the delay line starts empty.
    void Restart();

    // One read run: subChannel holds `sectors` x 96 sub-channel bytes in read order, the
    // first repeatSectors of which repeat the previous run (0 for the first run after
    // Setup or Restart). Changes the buffer in place and returns the new packs within it.
    TCdgRunPacks Process(std::uint8_t* subChannel, std::uint32_t sectors, std::uint32_t repeatSectors);

private:
    TCdgPipelineSetup setup_;
    TCdgSync sync_;
    TSubCodeInterLeave interleave_;
    TSubCodeErrorCorrect correct_;
};

} // namespace vantrel
