// The player component: the one object through which the application lists drives,
// keeps every per-drive playback setting, picks the track and plays, stops, pauses and
// seeks it, dispatching to the CD-audio device, the analog engine or the digital engine
// by the play mode of the track's drive. Engines report back through DcdInProc; what
// must reach the application is posted to the component's hidden window.
//
// Threads: every method belongs to the user-interface thread that created the
// component, which must also pump Window(). TimerProc runs on the timer's thread and
// raises OnTimeCount there; DcdInProc runs on the engines' threads.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdg/CdgBuffer.h"
#include "drive/CdAddress.h"
#include "engine/EngineInterfaces.h"
#include "engine/PlayerTypes.h"
#include "engine/TocAnalysis.h"
#include "platform/Message.h"
#include "platform/MessageWindow.h"
#include "platform/PeriodicTimer.h"

namespace vantrel {

class TTrackInfo;

inline constexpr int kMaxDrives = 26;

// The per-drive settings without a rule of their own: name, type, default.
#define VANTREL_PLAIN_DRIVE_SETTINGS(X)                                                                                \
    X(Bcd, bool, false)                                                                                                \
    X(TimeOffset, std::int32_t, 0)                                                                                     \
    X(UseTimeOffset, bool, false)                                                                                      \
    X(AWaitFirst, std::uint32_t, 200)                                                                                  \
    X(AInterval, std::uint32_t, 10)                                                                                    \
    X(ACdgEnabled, bool, true)                                                                                         \
    X(ACdgReadAtOnce, std::uint32_t, 1)                                                                                \
    X(ACdgDispAtOnce, std::uint32_t, 10)                                                                               \
    X(ASwapChannels, bool, false)                                                                                      \
    X(SubCodeMode, SubCodeModes, SubCodeNo)                                                                            \
    X(SyncHeadPos, bool, false)                                                                                        \
    X(MuteGap, bool, false)                                                                                            \
    X(ReadAtOnce, std::uint8_t, 25)                                                                                    \
    X(OffsetSamples, std::int32_t, 0)                                                                                  \
    X(MinSector, std::uint32_t, 0)                                                                                     \
    X(MinSectorIsTrack1, bool, false)                                                                                  \
    X(MinSectorIsTrack1Min, std::uint32_t, 0)                                                                          \
    X(MaxSector, std::uint32_t, 0)                                                                                     \
    X(MaxSectorMode, std::int32_t, 0)                                                                                  \
    X(BufLength, std::uint32_t, 1000)                                                                                  \
    X(NumBuffers, std::uint8_t, 2)                                                                                     \
    X(WaitTime, std::uint32_t, 0)                                                                                      \
    X(SpinUpTime, std::int32_t, 0)                                                                                     \
    X(ReadSpeedEnabled, bool, false)                                                                                   \
    X(ReadSpeed, std::uint32_t, 0)                                                                                     \
    X(UseNormalizer, bool, true)                                                                                       \
    X(ForceAccess, bool, false)

// The per-drive settings whose setters check the value: name, type, default.
#define VANTREL_RULED_DRIVE_SETTINGS(X)                                                                                \
    X(PlayMode, PlayModes, pmMci)                                                                                      \
    X(ReadTocMode, std::int32_t, 0)                                                                                    \
    X(PreGapMode, std::int32_t, 0)                                                                                     \
    X(PreGapMethod, std::int32_t, 0)                                                                                   \
    X(ModeCmdType, std::int32_t, 0)                                                                                    \
    X(RipMethod, RipMethods, RipMMC)                                                                                   \
    X(Overlaps, std::uint8_t, 5)                                                                                       \
    X(Compares, std::uint8_t, 2)                                                                                       \
    X(Gain, std::int32_t, 1)                                                                                           \
    X(CdgSyncEnabled, bool, false)                                                                                     \
    X(CdgSyncOffset, std::uint8_t, 4)

struct TDriveSettings {
#define VANTREL_FIELD(name, type, def) type name = def;
    VANTREL_PLAIN_DRIVE_SETTINGS(VANTREL_FIELD)
    VANTREL_RULED_DRIVE_SETTINGS(VANTREL_FIELD)
#undef VANTREL_FIELD
};

class TKsCdPlayer {
public:
    // The parts the component drives; any may be missing, its operations then fail.
    struct Engines {
        std::unique_ptr<ICdDriveList> drives;
        std::unique_ptr<IDriveCommands> commands;
        std::unique_ptr<ICdAudio> cdAudio;
        std::unique_ptr<IAnalogEngine> analog;
        std::unique_ptr<IDigitalEngine> digital;
    };

    explicit TKsCdPlayer(Engines engines);
    ~TKsCdPlayer();
    TKsCdPlayer(const TKsCdPlayer&) = delete;
    TKsCdPlayer& operator=(const TKsCdPlayer&) = delete;

    // Events.
    std::function<void(TKsCdPlayer&)> OnPlayError;
    std::function<void(TKsCdPlayer&)> OnPlayEnd;
    std::function<void(TKsCdPlayer&, std::int32_t time)> OnTimeCount;
    std::function<void(TKsCdPlayer&, const std::string& driveLetter, bool inserted)> OnDiscChange;
    std::function<void(TKsCdPlayer&, TCdgBuffer& buffer)> OnCdgRead;

    // Public fields, written by the application from its settings.
    bool NoMci = false;
    bool NoAspi = false;
    bool NoSpti = false;
    bool AddNonLetteredDrives = true;
    bool CdgEnabled = false;
    bool RsEnabled = false;
    bool DeEmphasize = true;
    bool DiskWriterEnable = false;
    std::string DiskWriterRootDir;
    // The WAV file the last disk-writer play went to.
    const std::string& DiskWriterFile() const { return diskWriterFile_; }
    TCdgBuffer CdgBuffer;
    int Tag = 0; // the mode of the last Play

    // The engines the component drives (for front ends that want their details).
    const Engines& GetEngines() const { return engines_; }

    // The hidden window; its owner thread pumps it.
    platform::MessageWindow& Window() { return window_; }
    // Starts the timer once the application has set the component up.
    void Loaded() { CmStart(); }

    // Drives.
    int GetCdDrives();
    int GetDriveCount() const;
    std::string GetDriveLetter(int index) const;
    int GetDriveIndex(const std::string& letter) const;
    bool GetDriveLetters(std::vector<std::string>* list) const;
    bool GetAspiAvail() const;
    bool GetSptiAvail() const;
    bool GetAspiAvails(int index) const;
    bool GetSptiAvails(int index) const;
    bool GetMciAvails(int index) const;
    bool GetUseSpti(int index) const;
    void SetUseSpti(int index, bool value);

    // Per-drive settings: Get<Name>(index), Set<Name>(index, value).
#define VANTREL_ACCESSORS(name, type, def)                                                                             \
    type Get##name(int index) const;                                                                                   \
    void Set##name(int index, type value);
    VANTREL_PLAIN_DRIVE_SETTINGS(VANTREL_ACCESSORS)
    VANTREL_RULED_DRIVE_SETTINGS(VANTREL_ACCESSORS)
#undef VANTREL_ACCESSORS

    // Volume tables.
    void InitAnalogVol();
    void InitDigitalVol();
    void SetAnalogVol(const std::uint8_t table[16]);
    void SetDigitalVol(const std::uint8_t table[16]);
    std::uint8_t AnalogVol(int step) const
    {
        return analogVol_[step & 15];
    }
    float DigitalVol(int step) const
    {
        return digitalVol_[step & 15];
    }

    // CD-audio devices.
    bool Open(int index);
    bool Open(const std::string& letter);
    bool Close(int index);
    bool Close(const std::string& letter);
    std::uint32_t GetDeviceID(int index) const;
    std::uint32_t GetDeviceID(const std::string& letter) const;
    bool GetDeviceOpened(int index) const;
    void SetDeviceOpened(int index, bool open);

    // Current track and playback.
    void SetCurrentTrack(TTrackInfo* track);
    TTrackInfo* GetCurrentTrack() const
    {
        return track_;
    }
    int GetCurrentDrive() const
    {
        return currentDrive_;
    }
    PlayModes GetCurrentMode() const
    {
        return currentMode_.load();
    }
    bool Play();
    bool Stop();
    bool Pause();
    bool Seek(std::int32_t position); // hundredths of a second from the track start
    bool SaveCurrnetPos();
    bool Delete();
    bool StopDriveCheck(const std::string& letter, bool same);
    bool DeleteDriveCheck(const std::string& letter, bool same);
    bool IsTrayLoaded(const std::string& letter);
    bool EjectTray(const std::string& letter);
    bool LoadTray(const std::string& letter);
    bool IsPlaying() const
    {
        return playing_.load();
    }
    bool IsPaused() const
    {
        return paused_.load();
    }
    bool IsBusy() const
    {
        return busy_.load();
    }
    TCdAddress GetSavedPosition() const
    {
        return savedPosition_;
    }
    std::int32_t GetSavedTime() const
    {
        return savedTime_.load();
    }

    // The three play paths.
    bool PlayMci();
    bool StopMci();
    bool PauseMci();
    bool SeekMci(std::int32_t position);
    bool SaveCurrnetPosMci();
    bool IsTrayLoadedMci(int index);
    bool EjectTrayMci(int index);
    bool LoadTrayMci(int index);
    bool PlayAnalog();
    bool StopAnalog(bool sendStop);
    bool PauseAnalog();
    bool SeekAnalog(std::int32_t position);
    bool SaveCurrnetPosAnalog();
    bool PlayDigital();
    bool StopDigital();
    bool PauseDigital();
    bool SeekDigital(std::int32_t position);
    bool SaveCurrnetPosDigital()
    {
        return false;
    }
    bool ForceDiscAccess();
    int GetReadSppeds(int index, int size, std::uint32_t* speeds);

    // Settings handed to a playing engine.
    bool SetVolume(int left, int right);
    int GetLeftVolume() const
    {
        return leftVolume_;
    }
    int GetRightVolume() const
    {
        return rightVolume_;
    }
    void SetStereoMode(int mode);
    StereoModes GetStereoMode() const
    {
        return stereoMode_;
    }
    void SetSpeed(int code);
    int GetSpeed() const
    {
        return speed_;
    }
    void SetMaxSpeed(int code);
    void SetMinSpeed(int code);
    void SetSpeedChangeInterval(int interval);
    int GetMaxSpeed() const
    {
        return maxSpeed_;
    }
    int GetMinSpeed() const
    {
        return minSpeed_;
    }
    int GetSpeedChangeInterval() const
    {
        return speedInterval_;
    }
    bool SetSpeedEx(double ratio);
    void SetReverse(bool reverse);
    bool GetReverse() const
    {
        return reverse_;
    }
    void SetNormParams(bool enabled, std::uint32_t blockSizeMilli, std::uint32_t avgVolume, std::uint32_t compRatio1,
                       std::uint32_t compRatio2, std::uint32_t maxComp, std::uint32_t gain, bool avgVolFromPeak,
                       std::uint32_t avgVolFromVal);
    const TNormParams& GetNormParams() const
    {
        return norm_;
    }
    float GetEqLevel();
    void SetEqLevel(float level);
    int GetEqBalance();
    void SetEqBalance(int balance);
    // Band 0..14: linear gain at the centre frequency (1.0 = 0 dB), Q, centre frequency in Hz.
    void SetEqParams(int band, float gain, float q, float frequency);
    bool GetEquEnabled();
    void SetEqEnabled(bool on);

    // Output settings.
    int GetPlayPriority() const
    {
        return ThreadPriorityToPriority(playPriority_);
    }
    void SetPlayPriority(PlayPriorities p)
    {
        playPriority_ = PriorityToThreadPriority(p);
    }
    int GetAsioPriority() const
    {
        return ThreadPriorityToPriority(asioPriority_);
    }
    void SetAsioPriority(PlayPriorities p)
    {
        asioPriority_ = PriorityToThreadPriority(p);
    }
    std::uint8_t GetOutputMode() const
    {
        return outputMode_;
    }
    void SetOutputMode(std::uint8_t mode)
    {
        if (mode < 3)
            outputMode_ = mode;
    }
#define VANTREL_OUTPUT_SETTINGS(X)                                                                                     \
    X(InternalFormat, std::int32_t, 1)                                                                                 \
    X(WaveDevIndex, std::uint32_t, 0)                                                                                  \
    X(WaveOutputFormat, std::int32_t, 1)                                                                               \
    X(WaveOutputExtensible, bool, false)                                                                               \
    X(WaveAc3Enabled, bool, false)                                                                                     \
    X(WaveAc3Force48k, bool, false)                                                                                    \
    X(DxDevIndex, std::uint32_t, 0)                                                                                    \
    X(DxOutputFormat, std::int32_t, 1)                                                                                 \
    X(DxOutputExtensible, bool, false)                                                                                 \
    X(AsioDevIndex, std::uint32_t, 0)                                                                                  \
    X(AsioOutputFormat, std::int32_t, 1)                                                                               \
    X(AsioBufSize, std::int32_t, 0)                                                                                    \
    X(AsioChShift, std::int32_t, 1)                                                                                    \
    X(AsioDirectMonitor, bool, false)                                                                                  \
    X(DiskOutputFormat, std::int32_t, 1)                                                                               \
    X(DiskOutputExtensible, bool, false)
#define VANTREL_OUTPUT_ACCESSORS(name, type, def)                                                                      \
    type Get##name() const                                                                                             \
    {                                                                                                                  \
        return output##name##_;                                                                                        \
    }                                                                                                                  \
    void Set##name(type value)                                                                                         \
    {                                                                                                                  \
        output##name##_ = value;                                                                                       \
    }
    VANTREL_OUTPUT_SETTINGS(VANTREL_OUTPUT_ACCESSORS)
#undef VANTREL_OUTPUT_ACCESSORS

    // The sound devices of the waveOut kind (ALSA): 0 is the system's default.
    static int GetWaveOutNumDevs();
    static std::string GetWaveOutDevName(int index);

    // Disc addresses set by the table-of-contents analysis: track 1's start and the
    // lead-outs (entry 0 the disc's, entry s session s's), absolute frames.
    void SetTrack1Address(int index, std::int64_t frames);
    void SetLeadOut(int index, int session, std::int64_t frames);
    std::int64_t GetTrack1Address(int index) const;
    std::int64_t GetLeadOut(int index, int session) const;

    // Table of contents (TocAnalysis.cpp). An analysis runs on a worker thread while the
    // calling thread waits in the progress display; only one runs at a time.
    // The table and identifiers of the disc in the drive with that letter, from the
    // CD-audio device or SCSI, then the pre-gap analysis when the drive's PreGapMode
    // asks for it. True when a CDDB identifier could be formed.
    bool GetDiscInfo(const std::string& letter, TCdToc& toc, TCddbParams& params);
    // The whole table built from the Q sub-channel instead of the drive's table.
    bool GetTocManual(const std::string& letter, TCdToc& toc, TCddbParams& params);
    // The raw CD-Text (header and packs); buffer is zeroed and length 0 first.
    bool ReadCdText(const std::string& letter, std::uint8_t* buffer, std::size_t size, std::size_t& length);
    void SetDlgFont(const TDlgFont& font)
    {
        dlgFont_ = font;
    }
    const TDlgFont& GetDlgFont() const
    {
        return dlgFont_;
    }
    // Asks the running analysis to stop between two reads; any thread. Ignored while
    // none runs or once it has ended.
    void CancelDlgOpeartion();
    // The status of the running analysis (asIdle when none runs), and the status the
    // last one ended with.
    std::uint8_t GetAnalysisStatus() const
    {
        return status_.load();
    }
    std::uint8_t GetLastAnalysisStatus() const
    {
        return lastStatus_;
    }
    // Makes the progress display of each analysis; empty: a TProgressSink.
    void SetProgressFactory(AnalysisProgressFactory factory)
    {
        progressFactory_ = std::move(factory);
    }
    // The texts of the progress display (UTF-8); the application may replace them.
    std::string TocCaption = "TOCを解析中";
    std::string PreGapCaption = "プリギャップを解析中";
    std::string ElapsedLabel = "経過時間";
    // The worker threads' entry points: the pre-gap analysis and the table analysis.
    static void DlgThreadProcPregap(TKsCdPlayer* player);
    static void DlgThreadProcToc(TKsCdPlayer* player);

    // Timer and time.
    bool CmStart();
    bool CmStop();
    std::uint32_t GetInterval() const
    {
        return interval_.load();
    }
    void SetInterval(std::uint32_t ms);
    std::int32_t GetTime() const;
    void TimerProc();

    // The engines' notification function; context is the component.
    static void DcdInProc(int code, std::intptr_t param, void* context);

private:
    void WindowProc(const platform::Message& message);
    bool ValidDrive(int index) const
    {
        return index >= 0 && index < kMaxDrives;
    }
    bool HasTrack() const
    {
        return track_ != nullptr;
    }
    // The transport for the engines and commands of drive index; false when none fits.
    bool PickTransport(int index, Transport& transport) const;
    bool StopByMode(bool sendStopAnalog);
    // The current track's operation for the way it plays: the CD-audio device, the drive's
    // analog play or digital play; false when it does not play any of them.
    template <typename... Args>
    bool ByMode(bool (TKsCdPlayer::*mci)(Args...), bool (TKsCdPlayer::*analog)(Args...),
                bool (TKsCdPlayer::*digital)(Args...), Args... args)
    {
        switch (currentMode_.load()) {
        case pmMci:
            return (this->*mci)(args...);
        case pmAnalog:
            return (this->*analog)(args...);
        case pmDigital:
            return (this->*digital)(args...);
        default:
            return false;
        }
    }
    // A tray operation on drive `letter`: through its CD-audio device when it plays that
    // way, else by SCSI command over the transport it uses.
    bool TrayOperation(const std::string& letter, bool (TKsCdPlayer::*mci)(int),
                       bool (IDriveCommands::*command)(int, Transport));
    void ClearCurrentTrack();
    void RaiseTimeCount(std::int32_t time);
    void ConfigureDigitalOutput(IDigitalEngine& digital);
    // The steps the analog and the digital path share around their engine's calls.
    bool StartEngine(const std::function<bool()>& start);
    bool StopEngine(bool available, const std::function<bool()>& stop);
    bool PauseEngine(bool available, const std::function<void()>& resume, const std::function<void()>& pause);
    bool SeekEngine(bool available, std::int32_t position, const std::function<bool(std::int64_t)>& seek);

    // Table-of-contents analysis (TocAnalysis.cpp).
    struct TDiscAddresses {
        std::int64_t track1 = 0;
        std::array<std::int64_t, 100> leadOuts{};
    };
    static TDiscAddresses AddressesOf(const TCdToc& toc);
    void SetDiscAddresses(int index, const TDiscAddresses& addresses);
    // Runs entry on a worker under a new progress display; returns the final status.
    std::uint8_t RunAnalysis(const std::string& caption, TCdToc* toc, const std::string& letter,
                             void (*entry)(TKsCdPlayer*));
    // On the worker: runs the analysis and makes sure the display gets its closing notification.
    void RunWorker(void (TKsCdPlayer::*analysis)());
    void AnalyPregap();
    void AnalyToc();
    void FailAnalysis();
    void Notify(int code, int value = 0);

    platform::MessageWindow window_;
    platform::PeriodicTimer timer_;
    // Declared after the window and the timer, so the engines (and their threads, which
    // post to the window) go first when the component is destroyed.
    Engines engines_;

    std::array<TDriveSettings, kMaxDrives> drive_{};
    std::array<bool, kMaxDrives> useSpti_{};
    std::array<std::uint32_t, kMaxDrives> deviceId_{};
    std::array<bool, kMaxDrives> deviceOpened_{};
    std::array<std::int64_t, kMaxDrives> track1Address_{};
    std::vector<std::array<std::int64_t, 100>> leadOuts_ = std::vector<std::array<std::int64_t, 100>>(kMaxDrives);

    std::string diskWriterFile_;
    TTrackInfo* track_ = nullptr;
    int currentDrive_ = -1;
    std::atomic<PlayModes> currentMode_{pmNone};
    std::atomic<bool> trackSet_{false}; // track_ as the timer thread may see it

    std::atomic<bool> suppressTime_{false};
    std::atomic<double> direction_{1.0};
    std::atomic<double> elapsed_{0.0};
    std::atomic<std::uint32_t> interval_{10};
    TCdAddress savedPosition_{};
    std::atomic<std::int32_t> savedTime_{0};
    std::atomic<bool> paused_{false};
    std::atomic<bool> playing_{false};
    std::atomic<bool> busy_{false};
    std::atomic<float> speedRatio_{1.0f};
    std::atomic<std::int32_t> pendingCdg_{0};

    std::array<std::uint8_t, 16> analogVol_{};
    std::array<float, 16> digitalVol_{};
    std::uint8_t leftVolume_ = 0;
    std::uint8_t rightVolume_ = 0;
    StereoModes stereoMode_ = smStereo;
    int speed_ = 0;
    int maxSpeed_ = 4;
    int minSpeed_ = -2;
    int speedInterval_ = 10;
    bool reverse_ = false;
    TNormParams norm_;

    // The analysis. The caller sets the analysed table, drive, display and addresses
    // before the worker starts and reads them after it has been joined; in between they
    // belong to the worker. The status is shared with the display's thread.
    std::atomic<std::uint8_t> status_{asIdle};
    std::atomic<bool> analysing_{false};
    std::uint8_t lastStatus_ = asIdle;
    TCdToc* analysedToc_ = nullptr;
    std::string analysedDrive_;
    IAnalysisProgress* dialog_ = nullptr;
    bool closeSent_ = false;
    // Set by the table analysis, applied to the drive once the worker has ended.
    int addressesDrive_ = -1;
    TDiscAddresses analysedAddresses_;
    TDlgFont dlgFont_;
    AnalysisProgressFactory progressFactory_;

    std::int32_t playPriority_ = 0;
    std::int32_t asioPriority_ = 0;
    std::uint8_t outputMode_ = 0;
#define VANTREL_OUTPUT_FIELD(name, type, def) type output##name##_ = def;
    VANTREL_OUTPUT_SETTINGS(VANTREL_OUTPUT_FIELD)
#undef VANTREL_OUTPUT_FIELD
};

} // namespace vantrel
