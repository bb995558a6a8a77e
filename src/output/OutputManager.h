// The last station of digital playback: takes chunks of raw CD audio, converts them to the
// internal sample type, runs the signal stages, cuts the result into blocks of one output
// buffer and hands each block, in the output's sample type, to the chosen audio output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/SignalStage.h"
#include "dsp/WaveDataConverter.h"
#include "dsp/WaveDataType.h"
#include "output/AudioOut.h"
#include "output/DiskOut.h"

namespace vantrel {

enum TOutputMode : int {
    omWaveOut = 0,
    omDirectSound = 1,
    omAsio = 2,
    omDisk = 3,
};

// Calling order: every setter, then Open on the thread that starts playback; after that
// every call comes from the playback thread: Write per chunk, Pause/Restart around a pause,
// Reset after a seek or on stop, Flush once after the end of the play range, then Close.
// The manager takes no lock.
//
// Setters return false and change nothing while the manager is open; otherwise they store
// the value and return true. They are kept across Open/Close cycles.
class TOutputManager {
public:
    TOutputManager();
    ~TOutputManager();
    TOutputManager(const TOutputManager&) = delete;
    TOutputManager& operator=(const TOutputManager&) = delete;

    // omWaveOut .. omDisk; Open takes any other value as omWaveOut and stores 0.
    bool SetOutputMode(int mode);
    // Pass-through copies the disc's bytes (AC3/DTS over S/PDIF) to the output untouched;
    // force48k labels that stream 48000 Hz.
    bool SetAc3Params(bool passThrough, bool force48k);
    bool SetAsioParams(int bufSizeStep, int channelShift, int priority, bool directMonitor);
    // The frames handed to Write: 2 channels of this type (wdInt16, 44100 from the player).
    bool SetInputFormat(TWaveDataType type, int sampleRate);
    // The type the signal stages work in.
    bool SetInternalFormat(TWaveDataType type);
    bool SetOutputFormat(TWaveDataType type, int sampleRate, bool extensible);
    bool SetBuffers(unsigned lengthMs, std::uint8_t count);
    bool SetDevIndex(int index);
    bool SetFileName(const std::string& path);

    // The stages are owned by the caller and must outlive the open period; null detaches.
    bool SetDeEmphsizer(TChunkStage* stage);
    bool SetVolumeChanger(TChunkStage* stage);
    bool SetStereoChanger(TChunkStage* stage);
    bool SetSpeedChanger(TSpeedStage* stage);
    bool SetCompresser(TBlockStage* stage);
    bool SetEqualizer(TBlockStage* stage);

    // Puts an output in the slot of a mode (omWaveOut .. omAsio; the WAV file output is
    // built in and omDisk is refused), replacing what was there. A mode whose slot is
    // empty cannot be opened. Refused while open.
    bool InstallOutput(int mode, std::unique_ptr<TAudioOut> output);

    // Chooses and sets up the output, opens it and prepares the converters and stages
    // (their Init). False, with nothing left open, when any step fails; GetLastError says
    // why.
    bool Open();
    // frames interleaved frames of the input type, 2 channels (4-byte frames in
    // pass-through). False when not open, and when the output failed for good (a write
    // error on the WAV file: see GetLastError); a block that a device merely refuses is
    // dropped and does not count as a failure.
    bool Write(const void* data, std::size_t frames);
    // Sends the partial block (also when it is empty). Same results as Write.
    bool Flush();
    // Forwarded to the output; 0 when no output is chosen, 1 on success else 0.
    int Pause();
    int Restart();
    // Drops the partial block and the equalizer's filter history, then resets the output.
    int Reset();
    // Frees the block buffers, drains and closes the output. False when nothing is open,
    // and when the output reports a failure (the WAV file could not be completed, or
    // a write failed earlier: its header then describes the bytes that reached the disk).
    bool Close();

    bool IsOpen() const { return opened_; }
    int GetOutputMode() const { return outputMode_; }
    // Why the last Open, Write, Flush or Close failed; empty after a successful Open. Kept
    // after Close, so the caller can read it once the output is gone.
    const std::string& GetLastError() const { return lastError_; }
    // Frames of one block (the open output's buffer) and frames waiting in the partial
    // block.
    unsigned GetBlockFrames() const { return blockFrames_; }
    unsigned GetFilledFrames() const { return filledFrames_; }

private:
    TAudioOut* OutputOfMode(int mode);
    bool SetUpOutput(TAudioOut& out);
    bool WritePassThrough(const std::uint8_t* data, std::size_t frames);
    bool SendBlock(unsigned frames);
    bool CheckOutput(bool written);
    void FreeBuffers();

    bool opened_ = false;
    int outputMode_ = omWaveOut;
    std::unique_ptr<TAudioOut> waveOut_;
    std::unique_ptr<TAudioOut> directSoundOut_;
    TDiskOut diskOut_;
    std::unique_ptr<TAudioOut> asioOut_;
    TAudioOut* current_ = nullptr;
    TWaveDataType inputType_ = wdInt16;
    int inputRate_ = 44100;
    TWaveDataType internalType_ = wdInt24In32;
    std::vector<std::uint8_t> blockLeft_;
    std::vector<std::uint8_t> blockRight_;
    unsigned blockFrames_ = 0;
    unsigned filledFrames_ = 0;
    std::vector<std::uint8_t> outBuffer_;
    unsigned outBytes_ = 0;
    TWaveDataConverter inConverter_;
    TWaveDataConverter outConverter_;
    TWaveDataType outputType_ = wdInt16;
    int outputRate_ = 44100;
    bool extensible_ = false;
    bool ac3PassThrough_ = false;
    bool ac3Force48k_ = false;
    int asioBufSize_ = 0;
    int asioChShift_ = 0;
    bool asioDirectMonitor_ = false;
    int asioPriority_ = 0;
    unsigned bufLength_ = 500;
    std::uint8_t numBuffers_ = 2;
    int devIndex_ = 0;
    std::string fileName_;
    TChunkStage* deEmphsizer_ = nullptr;
    TChunkStage* volumeChanger_ = nullptr;
    TChunkStage* stereoChanger_ = nullptr;
    TSpeedStage* speedChanger_ = nullptr;
    TBlockStage* compresser_ = nullptr;
    TBlockStage* equalizer_ = nullptr;
    std::string lastError_;
    // Chunk temporaries, kept between Writes so a steady stream of chunks allocates nothing.
    std::vector<std::uint8_t> chunk_[4];
};

} // namespace vantrel
