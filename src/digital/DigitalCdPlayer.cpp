#include "digital/DigitalCdPlayer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>

#include "cdg/ExtractQ.h"
#include "digital/Synchronizer.h"
#include "drive/CdAddress.h"
#include "drive/KsCdCommands.h"
#include "output/WaveOut.h"
#include "drive/KsParagraphBoundaryBuffer.h"
#include "dsp/WaveDataType.h"
#include "platform/Thread.h"

namespace vantrel {

namespace {

using std::chrono::milliseconds;

constexpr std::int64_t kSamples = kFrameSamples; // samples (4-byte stereo pairs) of a frame
constexpr std::size_t kSampleBytes = 4;
constexpr std::int64_t kNoUpperLimit = 4294967295;
constexpr std::uint32_t kGateWaitMinMs = 30000;
constexpr std::uint32_t kStartWaitMs = 30000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// What a sector's Q says, when it is a position frame (ADR 1).
struct TQPosition {
    bool valid = false;
    std::uint8_t index = 0;
    std::int64_t frame = 0; // absolute
};

} // namespace

// ---------------------------------------------------------------------------------
// The reading thread's work for one play: everything here belongs to that thread.

class TDigitalCdPlayer::Reader {
public:
    explicit Reader(TDigitalCdPlayer& player) : p_(player) {}

    void Run()
    {
        try {
            if (Prepare())
                Loop();
        } catch (...) {
            // Whatever went wrong, the play must end and the owner must hear of it, or it
            // would wait for an end that never comes.
            Fail(Failure::Exception);
        }
        Finish();
    }

private:
    enum class Failure { None, Allocation, Read, Write, Exception };

    bool Prepare();
    void SpinUp();
    void HeadSync();
    void Loop();
    void Finish();
    void Handle(const platform::Message& message);
    bool Read(std::int64_t frame, std::int64_t count)
    {
        return ReadSectors(*p_.transport_, p_.drive_, method_, subCode_, frame, static_cast<std::uint32_t>(count),
                           a_);
    }
    TQPosition QOf(const std::uint8_t* sector) const;
    void MuteGap(std::uint8_t* block, std::int64_t frames);
    void Reverse(const std::uint8_t* from, std::uint8_t* to, std::int64_t frames) const;
    void Compact(std::uint8_t* block, std::int64_t frames);
    std::int64_t RepeatedSectors(std::int64_t first, std::int64_t count);
    void HandOverPacks(std::int64_t frames, std::int64_t overlapFrames);
    std::int64_t FramesFromStart() const { return (position_ - start_) / kSamples; }
    void Fail(Failure failure)
    {
        failure_ = failure;
        std::scoped_lock lock(p_.errorMutex_);
        if (failure == Failure::Write)
            p_.errorText_ = p_.output_.GetLastError();
        else if (failure == Failure::Read)
            p_.errorText_ = "the drive could not read the disc";
        else if (failure == Failure::Allocation)
            p_.errorText_ = "out of memory";
        else if (failure == Failure::Exception)
            p_.errorText_ = "the play stopped on an unexpected failure";
    }
    std::uint8_t* Bytes(TKsParagraphBoundaryBuffer& buffer) { return reinterpret_cast<std::uint8_t*>(buffer.Data()); }

    TDigitalCdPlayer& p_;
    Failure failure_ = Failure::None;

    // The corrected settings of this play.
    RipMethods method_ = RipMMC;
    SubCodeModes subCode_ = SubCodeNo;
    std::int64_t sectorSize_ = kAudioSector;
    bool headSync_ = false, muteGap_ = false, cdg_ = false, binaryQ_ = false;
    std::int64_t readAtOnce_ = 25, overlaps_ = 5, compares_ = 1;
    std::int64_t start_ = 0, end_ = 0, lowest_ = 0, highest_ = 0;
    std::int64_t first_ = 0, last_ = 0; // frames F and G: the range's first frame and one past its last

    TKsParagraphBoundaryBuffer a_, b_, c_;
    TSynchronizer synchronizer_;

    std::int64_t position_ = 0;
    // One past the last sector whose packs went to the owner in forward play; -1 for none.
    std::int64_t packEnd_ = -1;
    bool firstBlock_ = true, mute_ = false;
    bool seekRequested_ = false, resyncRequested_ = false;
    bool speedChanged_ = false, directionChanged_ = false;
    bool densitySet_ = false, trayLocked_ = false;
    std::uint32_t rememberedSpeed_ = 0;
};

bool TDigitalCdPlayer::Reader::Prepare()
{
    platform::SetCurrentThreadPriority(p_.priority_); // best effort

    const TReadFunction f = ChooseReadFunction(p_.ripMethod_, p_.subCodeMode_);
    method_ = f.method;
    subCode_ = f.subCode;
    sectorSize_ = f.sectorSize;
    binaryQ_ = subCode_ == SubCodeQ && (method_ == RipMMC || method_ == RipMMCMSF) && FormatsQInBinary(p_.drive_);

    headSync_ = p_.syncHeadPos_;
    muteGap_ = p_.muteGap_;
    cdg_ = p_.cdgEnabled_;
    readAtOnce_ = p_.readAtOnce_;
    overlaps_ = p_.overlaps_;
    compares_ = p_.compares_;
    if (overlaps_ == 0)
        headSync_ = false;
    if (subCode_ == SubCodeNo)
        headSync_ = muteGap_ = false;
    if (subCode_ != SubCodeRW && subCode_ != SubCodeRAW)
        cdg_ = false;
    if (p_.reverse_)
        headSync_ = false;
    if (readAtOnce_ == 0)
        readAtOnce_ = 5;
    if (overlaps_ >= readAtOnce_)
        overlaps_ = readAtOnce_ - 1;
    if (compares_ > overlaps_)
        compares_ = overlaps_;
    if (p_.ac3PassThrough_)
        p_.reverse_ = false;

    // Room for the frames the last block may read beyond the range.
    const auto frames = static_cast<std::size_t>(readAtOnce_ + overlaps_);
    a_ = TKsParagraphBoundaryBuffer(static_cast<std::size_t>(sectorSize_) * frames);
    b_ = TKsParagraphBoundaryBuffer(static_cast<std::size_t>(sectorSize_) * frames);
    c_ = TKsParagraphBoundaryBuffer(kSubChannelBytes * frames);
    if (a_.Empty() || b_.Empty() || c_.Empty()) {
        Fail(Failure::Allocation);
        return false;
    }

    synchronizer_.Setup(static_cast<int>(compares_)); // without a reference it just cuts at the overlap
    TCdgPipelineSetup cdg;
    cdg.raw = subCode_ == SubCodeRAW;
    cdg.correct = p_.rsEnabled_;
    cdg.syncSectors = p_.cdgSync_ ? static_cast<std::uint32_t>(compares_) : 0;
    cdg.syncStep = p_.cdgSyncOffset_;
    p_.cdgPipeline_.Setup(cdg); // without its tail it hands over runs cut at their overlap

    start_ = p_.start_;
    end_ = p_.end_;
    if (!headSync_) {
        start_ += p_.offset_;
        end_ += p_.offset_;
    }
    lowest_ = std::max<std::int64_t>(p_.lowestFrame_, 0);
    highest_ = p_.highestFrame_ > lowest_ ? p_.highestFrame_ : kNoUpperLimit;

    const int cmdType = p_.modeCmdType_;
    if (method_ == RipToshiba && p_.modeCmdsEnabled_) {
        SetDensity(*p_.transport_, p_.drive_, 0x82, static_cast<std::uint32_t>(sectorSize_), cmdType);
        densitySet_ = true; // put back at the end whether or not the drive took it
    }
    LockTray(*p_.transport_, p_.drive_, true, p_.transportKind_ == Transport::Aspi);
    trayLocked_ = true;
    if (p_.readSpeedEnabled_) {
        const std::uint32_t current =
            p_.modeCmdsEnabled_ ? GetCurrentReadSpeed(*p_.transport_, p_.drive_, cmdType) : 0;
        rememberedSpeed_ = ::vantrel::SetReadSpeed(*p_.transport_, p_.drive_, p_.readSpeed_) ? current : 0;
    }
    p_.deEmphsizer_.Reset();
    {
        std::scoped_lock lock(p_.speedMutex_);
        p_.speed_.Reset();
        p_.speedExChanged_ = false;
        p_.RefreshSpeedRatio();
    }
    {
        std::scoped_lock lock(p_.stageMutex_);
        p_.normBlockMs_ = p_.normParams_.blockSizeMilli;
        p_.ApplyNormalizer(p_.normParams_, p_.normBlockMs_);
    }

    // Requests wait from here until the drive has spun up; the gate closes before the
    // starter hears that the thread runs, so that no request slips past it.
    p_.commandGate_.ResetEvent();
    p_.state_ = dsStarting;
    p_.launched_ = true;
    p_.started_.Set();
    SpinUp();
    p_.commandGate_.Set();
    if (headSync_)
        HeadSync();
    headSync_ = false;

    first_ = FloorDiv(start_, kSamples);
    last_ = FloorDiv(end_ + kSamples - 1, kSamples);
    position_ = p_.reverse_ ? end_ : start_;
    seekRequested_ = resyncRequested_ = speedChanged_ = directionChanged_ = false;
    p_.state_ = dsPlaying;
    firstBlock_ = true;
    mute_ = false;

    const float ratio = p_.GetSpeedRatio();
    p_.Notify(dnSpeedRatio, reinterpret_cast<std::intptr_t>(&ratio));
    p_.Notify(dnDirection, p_.reverse_ ? 1 : 0);
    p_.Notify(dnPosition, p_.reverse_ ? (end_ - start_) / kSamples : 0);
    p_.cdgPipeline_.Restart();
    p_.Notify(dnCdgClear, 0);
    p_.Notify(dnRunning, 0);
    return true;
}

void TDigitalCdPlayer::Reader::SpinUp()
{
    const std::int64_t frame = std::max(FloorDiv(start_, kSamples), lowest_);
    if (p_.spinUpTime_ <= 0) {
        Read(frame, 1); // wakes the drive; what it reads does not matter
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(p_.spinUpTime_);
    while (std::chrono::steady_clock::now() < until && Read(frame, 1)) {
    }
}

TQPosition TDigitalCdPlayer::Reader::QOf(const std::uint8_t* sector) const
{
    std::uint8_t q[16];
    bool bcd = true;
    if (subCode_ == SubCodeQ) {
        std::memcpy(q, sector + kAudioSector, kFormattedQ);
        bcd = !binaryQ_;
    } else if (subCode_ == SubCodeRW || subCode_ == SubCodeRAW) {
        ExtractQ(sector + kAudioSector, q);
    } else {
        return {};
    }
    if ((q[0] & 0x0F) != 1)
        return {};
    const auto value = [bcd](std::uint8_t byte) -> std::int64_t { return bcd ? BcdToBin(byte) : byte; };
    return {true, static_cast<std::uint8_t>(value(q[2])),
            value(q[7]) * kFramesPerMinute + value(q[8]) * kFramesPerSecond + value(q[9])};
}

void TDigitalCdPlayer::Reader::HeadSync()
{
    const std::int64_t requested = std::max(FloorDiv(start_, kSamples) - overlaps_, lowest_);
    if (!Read(requested, overlaps_))
        return;
    const TQPosition q = QOf(Bytes(a_));
    if (!q.valid || q.frame == 0)
        return;
    const std::int64_t shift = (requested - q.frame) * kSamples;
    start_ += shift;
    end_ += shift;
}

void TDigitalCdPlayer::Reader::MuteGap(std::uint8_t* block, std::int64_t frames)
{
    for (std::int64_t j = 0; j < frames; ++j) {
        std::uint8_t* sector = block + j * sectorSize_;
        if (const TQPosition q = QOf(sector); q.valid)
            mute_ = q.index == 0;
        if (mute_)
            std::memset(sector, 0, kAudioSector);
    }
}

void TDigitalCdPlayer::Reader::Reverse(const std::uint8_t* from, std::uint8_t* to, std::int64_t frames) const
{
    const auto size = static_cast<std::size_t>(sectorSize_);
    for (std::int64_t j = 0; j < frames; ++j) {
        const std::uint8_t* source = from + static_cast<std::size_t>(j) * size;
        std::uint8_t* target = to + static_cast<std::size_t>(frames - 1 - j) * size;
        for (std::int64_t s = 0; s < kSamples; ++s)
            std::memcpy(target + s * kSampleBytes, source + (kSamples - 1 - s) * kSampleBytes, kSampleBytes);
        std::memcpy(target + kAudioSector, source + kAudioSector, size - kAudioSector);
    }
}

void TDigitalCdPlayer::Reader::Compact(std::uint8_t* block, std::int64_t frames)
{
    if (sectorSize_ == kAudioSector)
        return;
    std::uint8_t* sub = Bytes(c_);
    for (std::int64_t j = 0; j < frames; ++j) {
        std::uint8_t* sector = block + j * sectorSize_;
        if (sectorSize_ == kAudioSubSector)
            std::memcpy(sub + j * kSubChannelBytes, sector + kAudioSector, kSubChannelBytes);
        std::memmove(block + j * kAudioSector, sector, kAudioSector);
    }
}

// The sectors at the start of a forward block whose packs the previous block handed over.
// Mostly the overlap; but a block that starts one sector early, because the audio before it
// came out of the synchronizer a few samples short of a sector boundary, repeats one sector
// more, and counting only the overlap would hand that sector's packs over twice and put
// every later pack a sector behind its audio.
std::int64_t TDigitalCdPlayer::Reader::RepeatedSectors(std::int64_t first, std::int64_t count)
{
    const std::int64_t repeated = firstBlock_ || packEnd_ < 0 ? 0 : std::clamp<std::int64_t>(packEnd_ - first, 0, count);
    packEnd_ = first + count;
    return repeated;
}

void TDigitalCdPlayer::Reader::HandOverPacks(std::int64_t frames, std::int64_t overlapFrames)
{
    const TCdgRunPacks run = p_.cdgPipeline_.Process(Bytes(c_), static_cast<std::uint32_t>(frames),
                                                     static_cast<std::uint32_t>(overlapFrames));
    p_.Notify(dnCdgCount, static_cast<std::intptr_t>(run.count));
    p_.Notify(dnCdgPacks, reinterpret_cast<std::intptr_t>(run.packs));
}

void TDigitalCdPlayer::Reader::Loop()
{
    const std::int64_t R = readAtOnce_, V = overlaps_;
    while (p_.state_ != dsIdle) {
        const bool reverse = p_.reverse_;
        std::int64_t i = FloorDiv(position_, kSamples);
        const std::int64_t n = position_ - i * kSamples;
        std::int64_t a = 0, M = 0, L = 0, skip = n;
        bool read = false;
        if (!reverse) {
            if (i < lowest_) {
                a = std::min(last_, lowest_) - i;
            } else if (i < highest_) {
                read = true;
                M = i;
                if (!firstBlock_) {
                    M = i - V;
                    L = V;
                    if (M < lowest_) {
                        M = lowest_;
                        L = i - lowest_;
                    }
                }
                a = std::min(last_ - M, R);
                if (M + a > highest_)
                    a = highest_ - M;
            } else {
                a = last_ - i;
            }
        } else {
            skip = 0;
            if (n != 0) {
                ++i;
                skip = kSamples - n;
            }
            if (i > highest_) {
                a = i - std::max(first_, highest_);
            } else if (i > lowest_) {
                read = true;
                if (firstBlock_) {
                    M = i - R;
                    a = R;
                    if (i - R < first_) {
                        M = first_;
                        a = i - first_;
                    }
                } else {
                    L = i + V > highest_ ? highest_ - i : V;
                    M = i + L - R;
                    a = R;
                    if (M < first_) {
                        M = first_;
                        a = L + i - first_;
                    }
                }
                if (M <= lowest_) {
                    M = lowest_;
                    a = L + i - lowest_;
                }
            } else {
                a = i - R < first_ ? i - first_ : R;
            }
        }
        a = std::min(a, R);

        std::int64_t length = a * kSamples;
        const std::uint8_t* data = nullptr;
        std::int64_t remaining = 0;
        bool over = false;
        if (!read) {
            length -= skip;
            if (length < 1) {
                over = true;
            } else {
                std::memset(Bytes(b_), 0, static_cast<std::size_t>(length) * kSampleBytes);
                data = Bytes(b_);
                remaining = length;
                synchronizer_.Reset();
            }
        } else {
            if (p_.waitTime_ > 0)
                std::this_thread::sleep_for(milliseconds(p_.waitTime_));
            // The last block of the range (the first one backwards) takes up to `overlaps`
            // frames beyond it where the limits allow: the audio delivered so far carries the
            // first read's offset, and only a block that reaches past the range's edge can
            // continue it to the end. A drive that cannot read them (the lead-out) gets the
            // block without them.
            std::int64_t extra = 0;
            if (a > 0 && !reverse && M + a == last_)
                extra = std::clamp<std::int64_t>(highest_ - last_, 0, V);
            else if (a > 0 && reverse && M == first_)
                extra = std::clamp<std::int64_t>(M - lowest_, 0, V);
            if (extra > 0 && !Read(reverse ? M - extra : M, a + extra))
                extra = 0;
            if (a > 0 && extra == 0 && !Read(M, a)) {
                Fail(Failure::Read);
                return;
            }
            const std::int64_t frames = a + extra;
            length = frames * kSamples;
            std::uint8_t* block = Bytes(a_);
            if (muteGap_)
                MuteGap(block, frames);
            if (reverse) {
                Reverse(block, Bytes(b_), frames);
                block = Bytes(b_);
            }
            Compact(block, frames);
            int outLength = 0, outOffset = 0;
            synchronizer_.Process(block, static_cast<int>(std::max<std::int64_t>(length, 0)), outLength, outOffset,
                                  static_cast<int>(L * kSamples + skip));
            data = block + static_cast<std::size_t>(outOffset) * kSampleBytes;
            remaining = outLength;
        }

        if (!over) {
            if (!reverse) {
                if (position_ + remaining >= end_) {
                    remaining = end_ - position_;
                    over = true;
                }
                position_ += std::max<std::int64_t>(remaining, 0);
            } else {
                if (position_ - remaining <= start_) {
                    remaining = position_ - start_;
                    over = true;
                }
                position_ -= std::max<std::int64_t>(remaining, 0);
            }
        }
        if (remaining > 0) {
            bool written = false;
            {
                std::scoped_lock lock(p_.speedMutex_);
                if (p_.speed_.Tick(static_cast<int>(remaining / kSamples))) {
                    speedChanged_ = true;
                    p_.RefreshSpeedRatio();
                }
                written = p_.output_.Write(data, static_cast<std::size_t>(remaining));
            }
            if (!written) {
                Fail(Failure::Write);
                return;
            }
            if (cdg_ && read) {
                // A block that only re-reads sectors already handed over (the last, short
                // block of a range, when the audio came out a few samples short) has none.
                const std::int64_t repeated = reverse ? L : RepeatedSectors(M, a);
                if (repeated < a)
                    HandOverPacks(a, repeated);
            }
            if (p_.reportPosition_)
                p_.Notify(dnPosition, FramesFromStart());
        } else {
            over = true;
        }
        firstBlock_ = false;
        if (over) {
            if (!p_.output_.Flush())
                Fail(Failure::Write);
            return;
        }

        if (p_.speedExChanged_.exchange(false)) {
            std::scoped_lock lock(p_.speedMutex_);
            p_.RefreshSpeedRatio();
            speedChanged_ = true;
        }
        if (speedChanged_) {
            speedChanged_ = false;
            const float ratio = p_.GetSpeedRatio();
            p_.Notify(dnSpeedRatio, reinterpret_cast<std::intptr_t>(&ratio));
        }
        if (directionChanged_) {
            directionChanged_ = false;
            p_.Notify(dnDirection, p_.reverse_ ? 1 : 0);
        }

        if (const auto message = p_.requests_.Queue().Peek(true))
            Handle(*message);
        if (p_.state_ == dsPaused) {
            p_.output_.Pause();
            while (p_.state_ == dsPaused)
                Handle(p_.requests_.Queue().Get());
            p_.output_.Restart();
        }
        if (seekRequested_) {
            seekRequested_ = false;
            p_.output_.Reset();
            p_.Notify(dnCdgClear, 0);
            p_.Notify(dnPosition, FramesFromStart());
        }
        if (resyncRequested_) {
            resyncRequested_ = false;
            synchronizer_.Reset();
            p_.cdgPipeline_.Restart();
            p_.deEmphsizer_.Reset();
            {
                std::scoped_lock lock(p_.speedMutex_);
                p_.speed_.Reset();
            }
            firstBlock_ = true;
            mute_ = false;
        }
    }
}

void TDigitalCdPlayer::Reader::Handle(const platform::Message& message)
{
    if (p_.state_ != dsIdle) {
        switch (message.msg) {
        case kRequestStop:
            p_.state_ = dsIdle;
            break;
        case kRequestPause:
            p_.state_ = dsPaused;
            break;
        case kRequestResume:
            p_.state_ = dsPlaying;
            break;
        case kRequestSeek:
            // Inside the range, so that the end of play is still reached.
            position_ = std::clamp(start_ + static_cast<std::int64_t>(message.lParam) * kSamples, start_, end_);
            seekRequested_ = resyncRequested_ = true;
            break;
        case kRequestStereo:
            p_.stereo_.SetMode(static_cast<int>(message.lParam));
            break;
        case kRequestSpeed: {
            std::scoped_lock lock(p_.speedMutex_);
            p_.ApplySpeedCode(static_cast<int>(message.lParam));
            speedChanged_ = true;
            break;
        }
        case kRequestReverse:
            if (!p_.ac3PassThrough_) {
                p_.reverse_ = message.lParam != 0;
                directionChanged_ = resyncRequested_ = true;
            }
            break;
        default:
            break;
        }
    }
    platform::ThreadMessageQueue::Complete(message);
}

void TDigitalCdPlayer::Reader::Finish()
{
    p_.commandGate_.Set();
    {
        std::scoped_lock lock(p_.stageMutex_);
        p_.normBlockMs_ = 0;
    }
    if (p_.transport_) {
        if (densitySet_)
            SetDensity(*p_.transport_, p_.drive_, 0, 2048, p_.modeCmdType_);
        if (rememberedSpeed_ != 0)
            ::vantrel::SetReadSpeed(*p_.transport_, p_.drive_, static_cast<std::uint16_t>(rememberedSpeed_));
        if (trayLocked_)
            LockTray(*p_.transport_, p_.drive_, false, p_.transportKind_ == Transport::Aspi);
    }
    if (p_.state_ != dsIdle || failure_ != Failure::None) {
        // The output is complete (the WAV file has its sizes) before the owner hears of the end.
        if (!p_.output_.Close() && failure_ == Failure::None)
            Fail(Failure::Write);
        p_.Notify(failure_ == Failure::None ? dnEnd : dnError, 0);
        p_.state_ = dsIdle;
    } else {
        p_.output_.Reset();
        p_.Notify(dnCdgClear, 0);
        if (!p_.output_.Close())
            Fail(Failure::Write);
    }
    p_.Notify(dnPosition, 0);
    p_.started_.Set(); // in case the preparation never got that far
}

// ---------------------------------------------------------------------------------
// The owner's side

TDigitalCdPlayer::TDigitalCdPlayer()
{
    output_.InstallOutput(kWaveOut, std::make_unique<TWaveOut>());  // sound through ALSA
}

TDigitalCdPlayer::~TDigitalCdPlayer()
{
    if (thread_.joinable()) {
        Stop();
        JoinThread();
    }
}

bool TDigitalCdPlayer::Configurable() const
{
    return state_ == dsIdle && !requests_.Serving();
}

void TDigitalCdPlayer::Notify(int code, std::intptr_t param) const
{
    if (notify_)
        notify_(code, param, context_);
}

std::string TDigitalCdPlayer::GetErrorText() const
{
    std::scoped_lock lock(errorMutex_);
    return errorText_;
}

bool TDigitalCdPlayer::SetNotify(TDcdNotify notify, void* context)
{
    return Configure([&] {
        notify_ = notify;
        context_ = context;
    });
}
bool TDigitalCdPlayer::SetDevice(std::int32_t index)
{
    return Configure([&] { deviceIndex_ = index; });
}
bool TDigitalCdPlayer::SetFileName(const std::string& fileName)
{
    return Configure([&] { fileName_ = fileName; });
}
bool TDigitalCdPlayer::SetAc3(bool passThrough, bool force48k)
{
    return Configure([&] {
        ac3PassThrough_ = passThrough;
        ac3Force48k_ = force48k;
    });
}
bool TDigitalCdPlayer::SetAsio(int bufferSize, int channelShift, int priority, bool directMonitor)
{
    return Configure([&] {
        asioBufferSize_ = bufferSize;
        asioChannelShift_ = channelShift;
        asioPriority_ = priority;
        asioDirectMonitor_ = directMonitor;
    });
}
bool TDigitalCdPlayer::SetBuffers(std::uint32_t lengthMs, std::uint8_t count)
{
    return Configure([&] {
        bufferLength_ = lengthMs;
        numBuffers_ = count;
    });
}
bool TDigitalCdPlayer::SetRipMethod(RipMethods method)
{
    return Configure([&] { ripMethod_ = method <= RipToshiba ? method : RipMMC; });
}
bool TDigitalCdPlayer::SetSyncHeadPos(bool on)
{
    return Configure([&] { syncHeadPos_ = on; });
}
bool TDigitalCdPlayer::SetMuteGap(bool on)
{
    return Configure([&] { muteGap_ = on; });
}
bool TDigitalCdPlayer::SetReadAtOnce(std::uint8_t frames)
{
    return Configure([&] { readAtOnce_ = frames; });
}
bool TDigitalCdPlayer::SetOffset(std::int32_t samples)
{
    return Configure([&] { offset_ = samples; });
}
bool TDigitalCdPlayer::SetMinFrame(std::int64_t frame)
{
    return Configure([&] { lowestFrame_ = frame; });
}
bool TDigitalCdPlayer::SetMaxFrame(std::int64_t frame)
{
    return Configure([&] { highestFrame_ = frame; });
}
bool TDigitalCdPlayer::SetReadSpeedEnabled(bool on)
{
    return Configure([&] { readSpeedEnabled_ = on; });
}
bool TDigitalCdPlayer::SetWaitTime(std::uint32_t ms)
{
    return Configure([&] { waitTime_ = ms; });
}
bool TDigitalCdPlayer::SetSpinUpTime(std::int32_t seconds)
{
    return Configure([&] { spinUpTime_ = seconds; });
}
bool TDigitalCdPlayer::SetModeCmdType(std::int32_t type)
{
    return Configure([&] {
        modeCmdType_ = type;
        modeCmdsEnabled_ = type >= 0;
    });
}
bool TDigitalCdPlayer::SetCdg(bool on)
{
    return Configure([&] { cdgEnabled_ = on; });
}
bool TDigitalCdPlayer::SetRs(bool on)
{
    return Configure([&] { rsEnabled_ = on; });
}
bool TDigitalCdPlayer::SetCdgSync(bool on)
{
    return Configure([&] { cdgSync_ = on; });
}
bool TDigitalCdPlayer::SetCdgSyncOffset(std::uint8_t offset)
{
    return Configure([&] { cdgSyncOffset_ = offset; });
}
bool TDigitalCdPlayer::SetGain(std::int32_t percent)
{
    return Configure([&] { gain_ = percent; });
}
bool TDigitalCdPlayer::SetDeEmphasis(bool on)
{
    return Configure([&] { deEmphasis_ = on; });
}

bool TDigitalCdPlayer::SetOutputKind(int kind)
{
    if (!Configurable() || kind < kWaveOut || kind > kWavFile)
        return false;
    outputKind_ = kind;
    return true;
}

bool TDigitalCdPlayer::SetInternalFormat(int code)
{
    if (!Configurable())
        return false;
    const bool known = code >= 0 && code < 7;
    internalFormat_ = known ? static_cast<std::uint8_t>(code) : static_cast<std::uint8_t>(wdInt16);
    return known;
}

bool TDigitalCdPlayer::SetOutputFormat(int code, bool extensible)
{
    if (!Configurable())
        return false;
    const bool known = code >= 0 && code < 7;
    outputFormat_ = known ? static_cast<std::uint8_t>(code) : static_cast<std::uint8_t>(wdInt16);
    extensible_ = extensible;
    return known;
}

bool TDigitalCdPlayer::SetPriority(int priority)
{
    if (!Configurable() || priority < -2 || priority > 2)
        return false;
    priority_ = priority;
    return true;
}

bool TDigitalCdPlayer::SetSubCodeMode(SubCodeModes mode)
{
    if (!Configurable())
        return false;
    const bool known = mode <= SubCodeRAW;
    subCodeMode_ = known ? mode : SubCodeNo;
    return known;
}

bool TDigitalCdPlayer::SetOverlaps(std::uint8_t overlaps, std::uint8_t compares)
{
    if (!Configurable() || compares > overlaps || overlaps >= readAtOnce_)
        return false;
    overlaps_ = overlaps;
    compares_ = compares;
    return true;
}

bool TDigitalCdPlayer::SetReadSpeed(std::uint32_t kbPerSecond)
{
    if (!Configurable())
        return false;
    const bool fits = kbPerSecond <= 65535;
    readSpeed_ = fits ? static_cast<std::uint16_t>(kbPerSecond) : 0;
    return fits;
}

bool TDigitalCdPlayer::SetDrive(const TKsCdRom& drive, IScsiTransport* transport, Transport kind,
                                std::int64_t startFrame, std::int64_t endFrame)
{
    if (!Configurable())
        return false;
    drive_ = drive;
    transport_ = transport;
    transportKind_ = kind;
    start_ = startFrame * kSamples;
    end_ = endFrame * kSamples;
    return true;
}

// ---- settings of the signal stages ----

bool TDigitalCdPlayer::SetVolumes(float left, float right)
{
    volume_.SetVolume(left, right);
    return true;
}

void TDigitalCdPlayer::ApplyNormalizer(const TNormParams& params, std::uint32_t blockMs)
{
    const auto share = [](std::uint32_t percent) { return static_cast<float>(percent) / 100.0f; };
    normalizer_.SetParams(static_cast<int>(std::min<std::uint32_t>(blockMs, 1000000)), share(params.avgVolume),
                          share(params.compRatio1), share(params.compRatio2), share(params.maxComp),
                          share(params.gain), params.avgVolFromPeak, share(params.avgVolFromVal));
    normalizer_.SetEnabled(params.enabled);
}

bool TDigitalCdPlayer::SetNormalizer(const TNormParams& params)
{
    std::scoped_lock lock(stageMutex_);
    normParams_ = params;
    if (normBlockMs_ != 0)
        ApplyNormalizer(params, normBlockMs_);
    return true;
}

bool TDigitalCdPlayer::SetSpeedEx(double ratio)
{
    if (!speed_.SetSpeedEx(ratio)) // refuses ratios below 0.5
        return false;
    if (requests_.Serving()) {
        speedExChanged_ = true; // the reading thread takes it up and reports it
    } else {
        std::scoped_lock lock(speedMutex_);
        RefreshSpeedRatio();
    }
    return true;
}

bool TDigitalCdPlayer::SetRandomSpeed(int maxCode, int minCode, int interval)
{
    std::scoped_lock lock(speedMutex_);
    return speed_.SetRandomRange(maxCode, minCode, interval);
}

float TDigitalCdPlayer::GetEqLevel() const
{
    return static_cast<float>(equalizer_.GetLevel());
}

bool TDigitalCdPlayer::SetEqLevel(float level)
{
    equalizer_.SetLevel(level);
    return true;
}

int TDigitalCdPlayer::GetEqBalance() const
{
    return equalizer_.GetBalance();
}

bool TDigitalCdPlayer::SetEqBalance(int balance)
{
    equalizer_.SetBalance(balance);
    return true;
}

bool TDigitalCdPlayer::SetEqParams(int band, float gain, float q, float frequency)
{
    return equalizer_.SetBandParams(band, gain, q, frequency);
}

bool TDigitalCdPlayer::GetEqEnabled() const
{
    return equalizer_.GetEnabled();
}

bool TDigitalCdPlayer::SetEqEnabled(bool on)
{
    equalizer_.SetEnabled(on);
    return true;
}

float TDigitalCdPlayer::GetSpeedRatio() const
{
    return speedRatio_.load();
}

StereoModes TDigitalCdPlayer::GetStereo() const
{
    return stereo_.GetMode();
}

bool TDigitalCdPlayer::ApplySpeedCode(int code)
{
    if (!speed_.SetSpeed(code))
        return false;
    RefreshSpeedRatio();
    return true;
}

void TDigitalCdPlayer::RefreshSpeedRatio()
{
    speedRatio_ = speed_.GetSpeedRatio();
}

// ---- control ----

bool TDigitalCdPlayer::Start()
{
    if (!notify_ || state_ != dsIdle || !transport_)
        return false;
    if (thread_.joinable()) {
        if (!finished_.IsSet())
            return false;
        JoinThread();
    }
    reportPosition_ = outputKind_ == kWavFile;
    if (outputKind_ < kWaveOut || outputKind_ > kWavFile)
        outputKind_ = kWaveOut;

    output_.SetOutputMode(outputKind_);
    output_.SetAc3Params(ac3PassThrough_, ac3Force48k_);
    output_.SetAsioParams(asioBufferSize_, asioChannelShift_, asioPriority_, asioDirectMonitor_);
    output_.SetInputFormat(wdInt16, 44100);
    output_.SetInternalFormat(static_cast<TWaveDataType>(internalFormat_));
    output_.SetOutputFormat(static_cast<TWaveDataType>(outputFormat_), 44100, extensible_);
    output_.SetBuffers(bufferLength_, numBuffers_);
    if (outputKind_ == kWavFile)
        output_.SetFileName(fileName_);
    else
        output_.SetDevIndex(deviceIndex_);
    deEmphsizer_.SetEnabled(deEmphasis_);
    deEmphsizer_.SetGain(gain_);
    output_.SetEqualizer(&equalizer_);
    output_.SetCompresser(&normalizer_);
    output_.SetSpeedChanger(&speed_);
    output_.SetStereoChanger(&stereo_);
    output_.SetVolumeChanger(&volume_);
    output_.SetDeEmphsizer(&deEmphsizer_);
    if (!output_.Open()) {
        {
            std::scoped_lock lock(errorMutex_);
            errorText_ = output_.GetLastError();
        }
        Notify(dnError, 0);
        return false;
    }
    {
        std::scoped_lock lock(errorMutex_);
        errorText_.clear();
    }

    started_.ResetEvent();
    finished_.ResetEvent();
    launched_ = false;
    requests_.Open();
    try {
        thread_ = std::thread(&TDigitalCdPlayer::ThreadMain, this);
    } catch (const std::system_error&) {
        requests_.Close();
        finished_.Set();
        started_.Set();
        output_.Close();
        return false;
    }
    // Whether the thread got going, not whether it still plays: a short range read fast may
    // be over already.
    const auto wait = milliseconds(std::int64_t{std::max(spinUpTime_, 0)} * 1000 + kStartWaitMs);
    return started_.WaitFor(wait) && launched_;
}

void TDigitalCdPlayer::ThreadMain()
{
    {
        Reader reader(*this);
        reader.Run();
    }
    requests_.Close();
    finished_.Set();
}

void TDigitalCdPlayer::JoinThread()
{
    if (thread_.joinable())
        thread_.join();
    requests_.Forget();
}

bool TDigitalCdPlayer::WaitIdle(std::uint32_t ms)
{
    if (!thread_.joinable())
        return true;
    if (!finished_.WaitFor(milliseconds(ms)))
        return false;
    JoinThread();
    return true;
}

bool TDigitalCdPlayer::Request(std::uint32_t msg, std::intptr_t argument)
{
    if (!requests_.Serving())
        return false;
    const auto gateWait = std::max<std::int64_t>(std::int64_t{std::max(spinUpTime_, 0)} * 1000 + 1000, kGateWaitMinMs);
    if (!commandGate_.WaitFor(milliseconds(gateWait)))
        return false;
    const std::int64_t R = readAtOnce_ == 0 ? 5 : readAtOnce_;
    const auto wait = std::max<std::int64_t>(std::int64_t{numBuffers_} * R * 1000 / kFramesPerSecond,
                                             (std::int64_t{numBuffers_} + 1) * bufferLength_);
    return requests_.Send(msg, argument, milliseconds(wait)) == platform::RequestQueue::Sent::Handled;
}

bool TDigitalCdPlayer::Stop()
{
    return !requests_.Serving() || Request(kRequestStop, 0);
}

bool TDigitalCdPlayer::Pause()
{
    return state_ != dsPlaying || Request(kRequestPause, 0);
}

bool TDigitalCdPlayer::Resume()
{
    return state_ != dsPaused || Request(kRequestResume, 0);
}

bool TDigitalCdPlayer::Seek(std::int64_t frames)
{
    const State state = state_;
    return (state == dsPlaying || state == dsPaused) && Request(kRequestSeek, static_cast<std::intptr_t>(frames));
}

// Stereo mode, speed and direction go through the thread while it plays or is paused (it
// serves requests in both), so that a change never lands in the middle of a block.
bool TDigitalCdPlayer::SetStereo(StereoModes mode)
{
    if (mode > smSide)
        return false;
    const State state = state_;
    if (state == dsPlaying || state == dsPaused)
        return Request(kRequestStereo, mode);
    return stereo_.SetMode(mode);
}

bool TDigitalCdPlayer::SetSpeed(int code)
{
    if (!((code >= -2 && code <= 10) || code == 255 || code == 4095))
        return false;
    const State state = state_;
    if (state == dsPlaying || state == dsPaused)
        return Request(kRequestSpeed, code);
    std::scoped_lock lock(speedMutex_);
    return ApplySpeedCode(code);
}

bool TDigitalCdPlayer::SetReverse(bool reverse)
{
    const State state = state_;
    if (state == dsPlaying || state == dsPaused)
        return Request(kRequestReverse, reverse ? 1 : 0);
    reverse_ = reverse;
    return true;
}

} // namespace vantrel
