// The three shapes of signal stage the output manager drives: stages that work on each chunk
// in place (de-emphasis, volume, stereo mode), the speed changer that turns a chunk into one
// of another length, and stages that work on each full output block (equalizer, normalizer).
#pragma once

#include <cstddef>

#include "dsp/WaveDataType.h"

namespace vantrel {

// Channel buffers come as a pair, [0] left and [1] right, each a plain array of samples of
// the data type given to Init (wdInt24 as 3-byte groups), with no particular alignment.
// Every call comes from the playback thread, except Init, which the output manager's Open
// makes on the thread that starts playback before the playback thread runs.

// De-emphasis, volume and stereo mode: one call per chunk handed to the output manager.
class TChunkStage {
public:
    virtual ~TChunkStage() = default;

    // Chooses the stage's routine for the data type, once per Open; sampleRate is the rate
    // of the input (stages that do not need it ignore it). False when the stage cannot
    // handle the type; its Process then leaves the samples unchanged.
    virtual bool Init(TWaveDataType dataType, int sampleRate) = 0;
    // Processes frames samples of each channel in place.
    virtual void Process(void* const* channels, std::size_t frames) = 0;
};

// The speed changer: the last per-chunk stage and the only one whose output frame count
// differs from its input.
class TSpeedStage {
public:
    virtual ~TSpeedStage() = default;

    virtual bool Init(TWaveDataType dataType, int sampleRate) = 0;
    // Reads inFrames samples of each input channel and writes the converted chunk into
    // outChannels, which hold room for 2 * inFrames samples each (a chunk can at most
    // double). Returns the number of frames written; 0 for no input or no routine.
    virtual std::size_t Process(const void* const* channels, std::size_t inFrames, void* const* outChannels) = 0;
};

// Equalizer and normalizer: one call per full output block, and once more for the partial
// block the output manager flushes at the end of play.
class TBlockStage {
public:
    virtual ~TBlockStage() = default;

    virtual bool Init(TWaveDataType dataType, int sampleRate) = 0;
    // Processes frames samples of each channel in place; frames may be 0.
    virtual void Process(void* const* channels, std::size_t frames) = 0;
    // Forgets the filter history, so audio after a seek or stop does not ring with what
    // came before it. Stages without history do nothing.
    virtual void Reset() {}
};

} // namespace vantrel
