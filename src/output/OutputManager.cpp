#include "output/OutputManager.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace vantrel {

namespace {

bool IsPcmType(TWaveDataType type)
{
    return type < kPcmWaveDataTypes;
}

// Pass-through frames are the disc's 16-bit stereo frames, whatever they carry.
constexpr std::size_t kPassThroughFrameBytes = 4;

void GrowTo(std::vector<std::uint8_t>& buffer, std::size_t bytes)
{
    if (buffer.size() < bytes)
        buffer.resize(bytes);
}

void Release(std::vector<std::uint8_t>& buffer)
{
    buffer.clear();
    buffer.shrink_to_fit();
}

} // namespace

TOutputManager::TOutputManager()
{
    inConverter_.SetFormats(inputType_, internalType_);
    inConverter_.SetChannels(2);
    outConverter_.SetFormats(internalType_, outputType_);
    outConverter_.SetChannels(2);
}

// The outputs' own destructors stop and close whatever is still open; the WAV file gets its
// header completed.
TOutputManager::~TOutputManager() = default;

bool TOutputManager::SetOutputMode(int mode)
{
    if (opened_)
        return false;
    outputMode_ = mode;
    return true;
}

bool TOutputManager::SetAc3Params(bool passThrough, bool force48k)
{
    if (opened_)
        return false;
    ac3PassThrough_ = passThrough;
    ac3Force48k_ = force48k;
    return true;
}

bool TOutputManager::SetAsioParams(int bufSizeStep, int channelShift, int priority, bool directMonitor)
{
    if (opened_)
        return false;
    asioBufSize_ = bufSizeStep;
    asioChShift_ = channelShift;
    asioPriority_ = priority;
    asioDirectMonitor_ = directMonitor;
    return true;
}

bool TOutputManager::SetInputFormat(TWaveDataType type, int sampleRate)
{
    if (opened_)
        return false;
    inputType_ = type;
    inputRate_ = sampleRate;
    return true;
}

bool TOutputManager::SetInternalFormat(TWaveDataType type)
{
    if (opened_)
        return false;
    internalType_ = type;
    return true;
}

bool TOutputManager::SetOutputFormat(TWaveDataType type, int sampleRate, bool extensible)
{
    if (opened_)
        return false;
    outputType_ = type;
    outputRate_ = sampleRate;
    extensible_ = extensible;
    return true;
}

bool TOutputManager::SetBuffers(unsigned lengthMs, std::uint8_t count)
{
    if (opened_)
        return false;
    bufLength_ = lengthMs;
    numBuffers_ = count;
    return true;
}

bool TOutputManager::SetDevIndex(int index)
{
    if (opened_)
        return false;
    devIndex_ = index;
    return true;
}

bool TOutputManager::SetFileName(const std::string& path)
{
    if (opened_)
        return false;
    fileName_ = path;
    return true;
}

bool TOutputManager::SetDeEmphsizer(TChunkStage* stage)
{
    if (opened_)
        return false;
    deEmphsizer_ = stage;
    return true;
}

bool TOutputManager::SetVolumeChanger(TChunkStage* stage)
{
    if (opened_)
        return false;
    volumeChanger_ = stage;
    return true;
}

bool TOutputManager::SetStereoChanger(TChunkStage* stage)
{
    if (opened_)
        return false;
    stereoChanger_ = stage;
    return true;
}

bool TOutputManager::SetSpeedChanger(TSpeedStage* stage)
{
    if (opened_)
        return false;
    speedChanger_ = stage;
    return true;
}

bool TOutputManager::SetCompresser(TBlockStage* stage)
{
    if (opened_)
        return false;
    compresser_ = stage;
    return true;
}

bool TOutputManager::SetEqualizer(TBlockStage* stage)
{
    if (opened_)
        return false;
    equalizer_ = stage;
    return true;
}

bool TOutputManager::InstallOutput(int mode, std::unique_ptr<TAudioOut> output)
{
    if (opened_)
        return false;
    switch (mode) {
    case omWaveOut:
        waveOut_ = std::move(output);
        return true;
    case omDirectSound:
        directSoundOut_ = std::move(output);
        return true;
    case omAsio:
        asioOut_ = std::move(output);
        return true;
    default:
        return false;
    }
}

TAudioOut* TOutputManager::OutputOfMode(int mode)
{
    switch (mode) {
    case omDirectSound:
        return directSoundOut_.get();
    case omAsio:
        return asioOut_.get();
    case omDisk:
        return &diskOut_;
    default:
        return waveOut_.get();
    }
}

bool TOutputManager::SetUpOutput(TAudioOut& out)
{
    constexpr std::uint32_t kFrontLeftRight = 3;
    bool ok;
    if (ac3PassThrough_)
        ok = out.SetFormatEx(wdAc3Spdif, extensible_, ac3Force48k_ ? 48000 : outputRate_, 2, 0);
    else if (outputMode_ == omAsio) // the ASIO output converts from the internal type itself
        ok = out.SetFormatEx(internalType_, extensible_, outputRate_, 2, kFrontLeftRight);
    else
        ok = out.SetFormatEx(outputType_, extensible_, outputRate_, 2, kFrontLeftRight);

    if (ok && outputMode_ == omAsio) {
        if (asioChShift_ != 0) {
            // Shifted outputs: the first channelShift channels stay silent (-1), then left
            // and right.
            std::vector<int> sources(static_cast<std::size_t>(std::max(asioChShift_, 0)), -1);
            sources.push_back(0);
            sources.push_back(1);
            ok = out.SetChannelMap(2, static_cast<int>(sources.size()), sources);
        }
        if (auto* asio = dynamic_cast<TAsioControls*>(&out); ok && asio) {
            ok = asio->SetAsioParams(asioBufSize_, asioDirectMonitor_);
            if (ok)
                asio->SetPriority(asioPriority_);
        }
    }
    ok = ok && out.SetBuffer(bufLength_, numBuffers_);
    if (ok)
        ok = outputMode_ == omDisk ? out.SetDevice(fileName_) : out.SetDevice(devIndex_);
    return ok;
}

bool TOutputManager::Open()
{
    if (opened_)
        return false;
    if (outputMode_ < omWaveOut || outputMode_ > omDisk)
        outputMode_ = omWaveOut;
    lastError_.clear();

    TAudioOut* out = OutputOfMode(outputMode_);
    if (!out) {
        lastError_ = "output not available";
        return false;
    }
    // The converters have routines for the PCM types only; in ASIO mode the output type
    // is not used.
    if (!ac3PassThrough_ &&
        (!IsPcmType(inputType_) || !IsPcmType(internalType_) || (outputMode_ != omAsio && !IsPcmType(outputType_)))) {
        lastError_ = "unsupported sample format";
        return false;
    }
    if (!SetUpOutput(*out)) {
        lastError_ = out->GetLastError().empty() ? "the output refused its settings" : out->GetLastError();
        return false;
    }
    if (!out->Open()) {
        lastError_ = out->GetLastError().empty() ? "cannot open the output" : out->GetLastError();
        return false;
    }
    current_ = out;
    outBytes_ = out->GetBufferBytes();
    blockFrames_ = out->GetBufferFrames();
    // A block of no frames would never fill.
    if (blockFrames_ == 0 || outBytes_ == 0) {
        Close();
        lastError_ = "the output buffer holds no frame";
        return false;
    }
    try {
        const std::size_t blockBytes = std::size_t{blockFrames_} * GetDataBytes(internalType_);
        blockLeft_.assign(blockBytes, 0);
        blockRight_.assign(blockBytes, 0);
        outBuffer_.assign(outBytes_, 0);
    } catch (const std::bad_alloc&) {
        Close();
        lastError_ = "out of memory";
        return false;
    }
    filledFrames_ = 0;
    inConverter_.SetFormats(inputType_, internalType_);
    inConverter_.SetChannels(2);
    outConverter_.SetFormats(internalType_, outputType_);
    outConverter_.SetChannels(2);

    if (deEmphsizer_)
        deEmphsizer_->Init(internalType_, inputRate_);
    if (stereoChanger_)
        stereoChanger_->Init(internalType_, inputRate_);
    if (volumeChanger_)
        volumeChanger_->Init(internalType_, inputRate_);
    if (speedChanger_)
        speedChanger_->Init(internalType_, inputRate_);
    if (compresser_)
        compresser_->Init(internalType_, inputRate_);
    if (equalizer_)
        equalizer_->Init(internalType_, inputRate_);
    opened_ = true;
    return true;
}

bool TOutputManager::CheckOutput(bool written)
{
    // A device that refuses a block drops it; only a lasting failure reaches the caller.
    if (written || current_->GetLastError().empty())
        return true;
    lastError_ = current_->GetLastError();
    return false;
}

bool TOutputManager::SendBlock(unsigned frames)
{
    if (equalizer_ || compresser_) {
        void* const channels[2] = {blockLeft_.data(), blockRight_.data()};
        if (equalizer_)
            equalizer_->Process(channels, frames);
        if (compresser_)
            compresser_->Process(channels, frames);
    }
    const void* const sources[2] = {blockLeft_.data(), blockRight_.data()};
    if (outputMode_ == omAsio)
        return CheckOutput(current_->WritePlanar(sources, frames));
    outConverter_.Interleave(frames, sources, outBuffer_.data());
    const std::size_t bytes = std::size_t{frames} * 2 * GetDataBytes(outputType_);
    return CheckOutput(current_->Write(outBuffer_.data(), bytes));
}

bool TOutputManager::WritePassThrough(const std::uint8_t* data, std::size_t frames)
{
    bool ok = true;
    while (frames > 0) {
        const std::size_t take = std::min<std::size_t>(frames, blockFrames_ - filledFrames_);
        std::memcpy(outBuffer_.data() + filledFrames_ * kPassThroughFrameBytes, data, take * kPassThroughFrameBytes);
        data += take * kPassThroughFrameBytes;
        frames -= take;
        filledFrames_ += static_cast<unsigned>(take);
        if (filledFrames_ == blockFrames_) {
            ok = CheckOutput(current_->Write(outBuffer_.data(), outBytes_)) && ok;
            filledFrames_ = 0;
        }
    }
    return ok;
}

bool TOutputManager::Write(const void* data, std::size_t frames)
{
    if (!opened_)
        return false;
    if (ac3PassThrough_)
        return WritePassThrough(static_cast<const std::uint8_t*>(data), frames);

    const std::size_t sampleBytes = GetDataBytes(internalType_);
    try {
        GrowTo(chunk_[0], frames * sampleBytes);
        GrowTo(chunk_[1], frames * sampleBytes);
        if (speedChanger_) {
            GrowTo(chunk_[2], 2 * frames * sampleBytes);
            GrowTo(chunk_[3], 2 * frames * sampleBytes);
        }
    } catch (const std::bad_alloc&) {
        lastError_ = "out of memory";
        return false;
    }
    void* const chunk[2] = {chunk_[0].data(), chunk_[1].data()};
    inConverter_.Deinterleave(frames, data, chunk);
    if (deEmphsizer_)
        deEmphsizer_->Process(chunk, frames);
    if (volumeChanger_)
        volumeChanger_->Process(chunk, frames);
    if (stereoChanger_)
        stereoChanger_->Process(chunk, frames);

    // Without a speed stage the chunk itself goes on to the blocks.
    const std::uint8_t* source[2] = {chunk_[0].data(), chunk_[1].data()};
    std::size_t remaining = frames;
    if (speedChanger_) {
        void* const sped[2] = {chunk_[2].data(), chunk_[3].data()};
        const void* const input[2] = {chunk[0], chunk[1]};
        remaining = std::min(speedChanger_->Process(input, frames, sped), 2 * frames);
        source[0] = chunk_[2].data();
        source[1] = chunk_[3].data();
    }

    bool ok = true;
    while (remaining >= blockFrames_ - filledFrames_) {
        const std::size_t take = blockFrames_ - filledFrames_;
        std::memcpy(blockLeft_.data() + filledFrames_ * sampleBytes, source[0], take * sampleBytes);
        std::memcpy(blockRight_.data() + filledFrames_ * sampleBytes, source[1], take * sampleBytes);
        source[0] += take * sampleBytes;
        source[1] += take * sampleBytes;
        remaining -= take;
        ok = SendBlock(blockFrames_) && ok;
        filledFrames_ = 0;
    }
    std::memcpy(blockLeft_.data() + filledFrames_ * sampleBytes, source[0], remaining * sampleBytes);
    std::memcpy(blockRight_.data() + filledFrames_ * sampleBytes, source[1], remaining * sampleBytes);
    filledFrames_ += static_cast<unsigned>(remaining);
    return ok;
}

bool TOutputManager::Flush()
{
    if (!opened_)
        return false;
    if (ac3PassThrough_)
        return CheckOutput(current_->Write(outBuffer_.data(), filledFrames_ * kPassThroughFrameBytes));
    return SendBlock(filledFrames_);
}

int TOutputManager::Pause()
{
    return current_ && current_->Pause() ? 1 : 0;
}

int TOutputManager::Restart()
{
    return current_ && current_->Restart() ? 1 : 0;
}

int TOutputManager::Reset()
{
    if (!current_)
        return 0;
    filledFrames_ = 0;
    if (equalizer_)
        equalizer_->Reset();
    return current_->Reset() ? 1 : 0;
}

void TOutputManager::FreeBuffers()
{
    Release(blockLeft_);
    Release(blockRight_);
    Release(outBuffer_);
    for (auto& buffer : chunk_)
        Release(buffer);
}

bool TOutputManager::Close()
{
    if (!current_)
        return false;
    FreeBuffers();
    // The buffered outputs play out what they hold: a write of 0 bytes is their drain step.
    const std::uint8_t nothing = 0;
    if (outputMode_ == omDirectSound) {
        while (current_->Write(&nothing, 0)) {
        }
    } else if (outputMode_ == omAsio) {
        current_->Write(&nothing, 0);
    }
    const bool ok = current_->Close();
    if (!ok && !current_->GetLastError().empty())
        lastError_ = current_->GetLastError();
    current_ = nullptr;
    opened_ = false;
    outBytes_ = 0;
    return ok;
}

} // namespace vantrel
