// Digital play: a reading thread pulls CD-DA sectors off the drive in blocks, re-reads a few
// frames of overlap and lines each block up on the one before (TSynchronizer), mutes pre-gaps,
// reverses the audio for backward play and hands 16-bit stereo 44100 Hz chunks to the output
// manager. With sub-channel reads it also hands CD+G packs to its owner.
//
// Threads: the owner (the player component's thread) configures, starts and controls the
// player; every control operation is a request message to the reading thread, which sets the
// request's event once it has handled it. The notification function is called on the
// reading thread. Configuration setters refuse while a reading thread exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "cdg/CdgPipeline.h"
#include "digital/EngineNotify.h"
#include "drive/KsCdRom.h"
#include "drive/ReadModes.h"
#include "drive/ScsiTransport.h"
#include "dsp/Compresser.h"
#include "dsp/DeEmphsizer.h"
#include "dsp/Equalizer.h"
#include "dsp/NormParams.h"
#include "dsp/SpeedChanger.h"
#include "dsp/StereoChanger.h"
#include "dsp/VolumeChanger.h"
#include "output/OutputManager.h"
#include "platform/Event.h"
#include "platform/Message.h"
#include "platform/RequestQueue.h"

namespace vantrel {

class TDigitalCdPlayer {
public:
    enum State : std::uint8_t { dsIdle = 0, dsStarting = 1, dsPlaying = 2, dsPaused = 3 };

    // The requests the reading thread serves; lParam carries the argument.
    static constexpr std::uint32_t kRequestStop = platform::WM_APP + 0x20;
    static constexpr std::uint32_t kRequestPause = platform::WM_APP + 0x21;
    static constexpr std::uint32_t kRequestResume = platform::WM_APP + 0x22;
    static constexpr std::uint32_t kRequestSeek = platform::WM_APP + 0x23;
    static constexpr std::uint32_t kRequestStereo = platform::WM_APP + 0x24;
    static constexpr std::uint32_t kRequestSpeed = platform::WM_APP + 0x25;
    static constexpr std::uint32_t kRequestReverse = platform::WM_APP + 0x26;

    // Output kinds.
    static constexpr int kWaveOut = 0, kDirectSound = 1, kAsio = 2, kWavFile = 3;

    TDigitalCdPlayer();
    // Stops a running play and waits for the reading thread.
    ~TDigitalCdPlayer();
    TDigitalCdPlayer(const TDigitalCdPlayer&) = delete;
    TDigitalCdPlayer& operator=(const TDigitalCdPlayer&) = delete;

    // ---- configuration: false, nothing changed, while a reading thread exists ----

    bool SetNotify(TDcdNotify notify, void* context);
    bool SetOutputKind(int kind); // kWaveOut .. kWavFile
    bool SetDevice(std::int32_t index); // -1 the default device
    bool SetFileName(const std::string& fileName);
    // Sample type codes below 7; others store wdInt16 and return false.
    bool SetInternalFormat(int code);
    bool SetOutputFormat(int code, bool extensible);
    bool SetAc3(bool passThrough, bool force48k);
    bool SetAsio(int bufferSize, int channelShift, int priority, bool directMonitor);
    bool SetBuffers(std::uint32_t lengthMs, std::uint8_t count);
    bool SetPriority(int priority); // -2..2; others (time critical too) keep the previous one
    bool SetRipMethod(RipMethods method); // 5 and above read as RipMMC
    bool SetSubCodeMode(SubCodeModes mode); // also the sector size
    bool SetSyncHeadPos(bool on);
    bool SetMuteGap(bool on);
    bool SetReadAtOnce(std::uint8_t frames);
    // Refused unless compares <= overlaps < read at once.
    bool SetOverlaps(std::uint8_t overlaps, std::uint8_t compares);
    bool SetOffset(std::int32_t samples);
    bool SetMinFrame(std::int64_t frame);
    bool SetMaxFrame(std::int64_t frame);
    bool SetReadSpeedEnabled(bool on);
    bool SetReadSpeed(std::uint32_t kbPerSecond); // above 65535: stores 0, false
    bool SetWaitTime(std::uint32_t ms);            // before every read
    bool SetSpinUpTime(std::int32_t seconds);      // of reading before play
    bool SetModeCmdType(std::int32_t type);        // negative: no mode commands
    bool SetCdg(bool on);
    bool SetRs(bool on);
    bool SetCdgSync(bool on);
    bool SetCdgSyncOffset(std::uint8_t offset);
    // The drive (copied), the path to it (must outlive the play) and which path that is;
    // start and end are absolute frames, end exclusive.
    bool SetDrive(const TKsCdRom& drive, IScsiTransport* transport, Transport kind, std::int64_t startFrame,
                  std::int64_t endFrame);
    bool SetGain(std::int32_t percent);
    bool SetDeEmphasis(bool on);

    // ---- settings of the signal stages: always accepted ----

    bool SetVolumes(float left, float right);
    bool SetNormalizer(const TNormParams& params);
    bool SetSpeedEx(double ratio); // below 0.5 refused
    bool SetRandomSpeed(int maxCode, int minCode, int interval);
    float GetEqLevel() const;
    bool SetEqLevel(float level);
    int GetEqBalance() const;
    bool SetEqBalance(int balance);
    // Band 0..14: linear gain at the centre, Q, centre frequency in Hz.
    bool SetEqParams(int band, float gain, float q, float frequency);
    bool GetEqEnabled() const;
    bool SetEqEnabled(bool on);
    // The speed factor as notification 16 reports it (2.0: twice as fast).
    float GetSpeedRatio() const;
    StereoModes GetStereo() const;
    bool GetReverse() const { return reverse_.load(); }

    // ---- control ----

    // Opens the output and starts the reading thread; true once the thread has prepared the
    // drive (spin-up reading and notification 12 follow). An output that cannot be opened
    // fails the start with notification 0.
    bool Start();
    bool Stop();
    bool Pause();
    bool Resume();
    bool Seek(std::int64_t frames); // from the track start
    bool SetStereo(StereoModes mode);
    bool SetSpeed(int code); // -2..10, 255 (random), 4095 (the SetSpeedEx ratio)
    bool SetReverse(bool reverse);
    // Waits up to ms for the reading thread to end; true when none runs.
    bool WaitIdle(std::uint32_t ms);

    State GetState() const { return state_.load(); }
    // Why the last start or play failed (the output, the drive), empty when it did not.
    std::string GetErrorText() const;

private:
    class Reader;
    friend class Reader;

    bool Configurable() const;
    // Applies a configuration change unless a reading thread exists.
    template <typename Change>
    bool Configure(Change change)
    {
        if (!Configurable())
            return false;
        change();
        return true;
    }
    // Posts a request and waits until the thread has handled it.
    bool Request(std::uint32_t msg, std::intptr_t argument);
    // Under speedMutex_: the speed changer takes a code, and the ratio others read follows.
    bool ApplySpeedCode(int code);
    void RefreshSpeedRatio();
    // The normalizer's settings, its sub-block length fixed at blockMs while a play runs.
    void ApplyNormalizer(const TNormParams& params, std::uint32_t blockMs);
    void Notify(int code, std::intptr_t param) const;
    void ThreadMain();
    void JoinThread();

    // Configuration, written by the owner while no thread exists, read by the thread.
    bool reportPosition_ = false;
    std::string fileName_;
    TOutputManager output_;
    int outputKind_ = kWaveOut;
    TDcdNotify notify_ = nullptr;
    void* context_ = nullptr;
    int priority_ = 0;
    TKsCdRom drive_;
    IScsiTransport* transport_ = nullptr;
    Transport transportKind_ = Transport::Aspi;
    std::int64_t start_ = 0, end_ = 0; // samples
    RipMethods ripMethod_ = RipMMC;
    SubCodeModes subCodeMode_ = SubCodeNo; // with the sector size it implies
    std::int32_t offset_ = 0;
    std::int64_t lowestFrame_ = 0, highestFrame_ = 2147483647;
    std::uint8_t readAtOnce_ = 25, overlaps_ = 5, compares_ = 1;
    bool syncHeadPos_ = false, muteGap_ = false, readSpeedEnabled_ = false;
    std::uint16_t readSpeed_ = 1;
    std::uint8_t internalFormat_ = 3, outputFormat_ = 1;
    bool extensible_ = false;
    bool ac3PassThrough_ = false, ac3Force48k_ = false;
    std::int32_t asioBufferSize_ = 0, asioChannelShift_ = 0, asioPriority_ = 0;
    bool asioDirectMonitor_ = false;
    std::uint8_t numBuffers_ = 2;
    std::uint32_t bufferLength_ = 1000;
    std::int32_t deviceIndex_ = -1;
    std::uint32_t waitTime_ = 0;
    std::int32_t spinUpTime_ = 0;
    std::int32_t modeCmdType_ = 0;
    bool modeCmdsEnabled_ = true;
    bool cdgEnabled_ = false, rsEnabled_ = true, cdgSync_ = false;
    std::uint8_t cdgSyncOffset_ = 4;
    std::int32_t gain_ = 100;
    bool deEmphasis_ = false;

    // The signal stages the output manager runs. Volume, stereo mode, equalizer and
    // normalizer take their settings from any thread; the speed changer belongs to whoever
    // holds speedMutex_ (the reading thread holds it while it writes a chunk), except for
    // the continuous ratio, which it takes at any time.
    TDeEmphsizer deEmphsizer_;
    TVolumeChanger volume_;
    TStereoChanger stereo_;
    TSpeedChanger speed_;
    TEqualizer equalizer_;
    TCompresser normalizer_;
    mutable std::mutex speedMutex_;
    std::atomic<float> speedRatio_{1.0f};
    std::atomic<bool> speedExChanged_{false}; // a new continuous ratio is to be reported
    // Created with the player, so that its shared tables exist before any reading thread.
    TCdgPipeline cdgPipeline_;

    // Shared with the reading thread.
    mutable std::mutex stageMutex_;
    TNormParams normParams_;
    std::uint32_t normBlockMs_ = 0; // the sub-block length of the running play; 0 when none runs
    std::atomic<bool> reverse_{false};
    std::atomic<State> state_{dsIdle};
    mutable std::mutex errorMutex_;
    std::string errorText_;

    // The reading thread and its requests.
    std::thread thread_;
    platform::Event started_{platform::Event::Reset::Manual, true};
    platform::Event commandGate_{platform::Event::Reset::Manual, true};
    platform::Event finished_{platform::Event::Reset::Manual, true};
    platform::RequestQueue requests_; // serving while the thread exists
    std::atomic<bool> launched_{false}; // the thread got through its preparation
};

} // namespace vantrel
