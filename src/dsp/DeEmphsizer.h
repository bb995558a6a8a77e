// Undoes the treble boost of discs mastered with pre-emphasis (time constants 50 us and
// 15 us) with a first-order filter, and applies the drive's digital volume level, with or
// without the filter. The first chunk stage of the chain, ahead of volume, stereo and speed.
#pragma once

#include <array>
#include <cstddef>

#include "dsp/SignalStage.h"
#include "dsp/WaveDataType.h"

namespace vantrel {

// The filter is a first-order section fitted to the analog shelf (1 + s*15us) / (1 + s*50us)
// for 44100 Hz whatever the input rate: 0 dB at DC, within 0.08 dB of the analog curve up
// to 20 kHz (-0.37 dB at 1 kHz, -4.5 dB at 5 kHz, -9.0 dB at 16 kHz), -9.45 dB at Nyquist.
// It runs in 32-bit float, in double for wdFloat64 and wdFloat64S16. Integers enter at their own scale (wdInt24 as the
// top 3 bytes of a 32-bit value) and leave truncated toward zero and clipped: wdInt8 to
// 0..255, wdInt16 to -32767..32767 (symmetric), wdInt24 and wdInt32 at +-2^31 of the 32-bit
// value, wdInt24In32 only to its container; floats are stored as they come out.
//
// The first frame after Reset sets each channel's history to its own value, so the filter
// starts in its steady state and a constant signal passes from the very first frame.
//
// Threads: SetEnabled, SetGain and Reset come from the thread that controls playback while
// the playback thread does not run; during play only the playback thread calls Reset (after
// a seek or a change of direction) and Process.
class TDeEmphsizer final : public TChunkStage {
public:
    // Per channel: the previous input and the previous output.
    struct TState {
        std::array<double, 2> prevIn{};
        std::array<double, 2> prevOut{};
        bool first = true;
    };
    // Filters frames frames of both channels, carrying the state, and scales by gain.
    using TFilterRoutine = void (*)(TState& state, void* const* channels, std::size_t frames, double gain);
    // Scales count samples of one channel buffer by gain.
    using TScaleRoutine = void (*)(void* samples, std::size_t count, double gain);
    struct TRoutines {
        TFilterRoutine filter;
        TScaleRoutine scale;
    };

    // The player's de-emphasis setting AND the pre-emphasis flag of the track to play.
    void SetEnabled(bool on) { enabled_ = on; }
    bool GetEnabled() const { return enabled_; }
    // The drive's digital volume level in percent (100: unchanged). Levels within
    // 0.001 % of 100 count as 100.
    void SetGain(double percent);
    double GetGain() const { return gain_; }
    bool IsGainActive() const { return gainActive_; }

    // Forgets the history: the next frame starts the filter afresh.
    void Reset() { state_ = TState{}; }

    // False, and no routine, for a code outside 0 to 8. The rate does not matter here.
    bool Init(TWaveDataType dataType, int sampleRate) override;
    // Enabled: filters and applies the gain; otherwise applies an active gain alone; else,
    // and without a routine, leaves the samples as they are.
    void Process(void* const* channels, std::size_t frames) override;

    TWaveDataType GetDataType() const { return dataType_; }

private:
    bool enabled_ = false;
    bool gainActive_ = false;
    double gain_ = 1.0;
    TState state_;
    TWaveDataType dataType_ = wdInt16;
    const TRoutines* routines_ = nullptr;
};

} // namespace vantrel
