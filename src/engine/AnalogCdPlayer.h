// Analog play: the drive plays a range through its own output on PLAY AUDIO, and a
// watching thread follows its audio status, sends volume and channel routing through the
// audio control page, serves pause, resume, seek and stereo requests, and can read the R-W
// sub-channel while the drive plays so that CD+G graphics appear without digital reading.
//
// Threads: the owner (the player component's thread) configures and controls the engine;
// each control operation is a request message to the watching thread, which sets the
// request's event once it has handled it. The notification function runs on the watching
// thread. The drive system must outlive the engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "drive/DriveSystem.h"
#include "drive/KsCdRom.h"
#include "engine/EngineInterfaces.h"
#include "platform/Event.h"
#include "platform/Message.h"
#include "platform/RequestQueue.h"

namespace vantrel {

class TKsParagraphBoundaryBuffer;

class TKsAnalogCdPlayer : public IAnalogEngine {
public:
    enum State : std::uint8_t { asIdle = 0, asPlaying = 1, asPaused = 2 };

    // The requests the watching thread serves; lParam carries the argument.
    static constexpr std::uint32_t kRequestStop = platform::WM_APP + 0x20;
    static constexpr std::uint32_t kRequestPause = platform::WM_APP + 0x21;
    static constexpr std::uint32_t kRequestResume = platform::WM_APP + 0x22;
    static constexpr std::uint32_t kRequestSeek = platform::WM_APP + 0x23;
    static constexpr std::uint32_t kRequestStereo = platform::WM_APP + 0x24;

    explicit TKsAnalogCdPlayer(TDriveSystem& system);
    // Stops a play (the drive too) and waits for the thread; no notification after this starts.
    ~TKsAnalogCdPlayer() override;
    TKsAnalogCdPlayer(const TKsAnalogCdPlayer&) = delete;
    TKsAnalogCdPlayer& operator=(const TKsAnalogCdPlayer&) = delete;

    // ---- configuration: false, nothing changed, while a watching thread exists ----

    bool SetNotify(TDcdNotify notify, void* context) override;
    bool SetCdg(bool enabled) override;
    bool SetFirstWait(std::uint32_t ms) override;
    bool SetInterval(std::uint32_t ms) override;
    bool SetCdgReadAtOnce(std::uint32_t sectors) override;
    bool SetCdgDispAtOnce(std::uint32_t sectors) override;
    bool SetModeCmdType(std::int32_t type) override; // negative: no mode commands
    // The drive of the drive list at index, reached by transport; absolute frames, end
    // exclusive. False for an index the list does not have.
    bool SetDrive(int drive, Transport transport, std::int64_t start, std::int64_t end) override;

    // ---- always accepted ----

    bool SetSwap(bool swap) override;                                // and sends the stereo mode again
    bool SetVolumes(std::uint8_t left, std::uint8_t right) override; // sent on the next poll
    // Modes above smSide are refused; smSide plays as stereo. Sent at once while a play runs
    // (playing or paused), else kept for the next play.
    bool SetStereo(StereoModes mode) override;

    // ---- control ----

    // Starts the watching thread; true once it runs. The play itself is reported by
    // notification: 12 once the drive plays, 10 when it would not (or when play ends).
    bool Start() override;
    // Ends the play; the drive is told to stop only with sendStop. Waits for the thread.
    bool Stop(bool sendStop) override;
    bool Pause() override;
    bool Resume() override;
    // frames from the start; kept inside the range. While paused the drive moves on resume.
    bool Seek(std::int64_t frames) override;
    // Waits until a starting play has given the drive its first wait.
    bool WaitIdle() override;
    // Waits up to ms for the thread to end; true when none runs.
    bool WaitThread(std::uint32_t ms) override;

    State GetState() const { return state_.load(); }

private:
    using Sent = platform::RequestQueue::Sent;

    bool Configurable() const { return state_ == asIdle && !requests_.Serving(); }
    template <typename Change> bool Configure(Change change)
    {
        if (!Configurable())
            return false;
        change();
        return true;
    }
    Sent Request(std::uint32_t msg, std::intptr_t argument);
    void Notify(int code, std::intptr_t param);
    void JoinThread();

    // The watching thread.
    void ThreadMain();
    void Run();
    void Handle(const platform::Message& message);
    bool PlayFrom(std::int64_t frame);
    void SendRouting(StereoModes mode);
    void SendVolumes();
    void RestoreOutput();
    void ReadCdg(TKsParagraphBoundaryBuffer& read, TKsParagraphBoundaryBuffer& collection, std::size_t& collected);
    void Sleep(std::uint32_t ms) const;

    TDriveSystem& system_;

    // Configuration, written by the owner while no thread exists, read by the thread.
    TDcdNotify notify_ = nullptr;
    void* context_ = nullptr;
    bool cdg_ = false;
    std::uint32_t firstWait_ = 200, interval_ = 10;
    std::uint32_t cdgReadAtOnce_ = 1, cdgDispAtOnce_ = 10;
    std::int32_t modeCmdType_ = 0;
    bool modeCmds_ = false;
    TKsCdRom drive_;
    IScsiTransport* transport_ = nullptr;
    Transport transportKind_ = Transport::Aspi;
    std::int64_t start_ = 0, end_ = 0;

    // Shared with the thread.
    std::atomic<State> state_{asIdle};
    std::atomic<StereoModes> stereo_{smStereo};
    std::atomic<bool> swap_{false};
    std::atomic<std::uint8_t> left_{255}, right_{255};
    std::atomic<bool> volumeChanged_{true};

    // The thread's own.
    bool seekPending_ = false;
    std::int64_t pendingPosition_ = 0;
    bool failed_ = false; // a drive command of a request failed: the play is over

    // The thread and its requests.
    std::thread thread_;
    platform::Event idle_{platform::Event::Reset::Manual, true};
    platform::Event loop_{platform::Event::Reset::Auto}; // a semaphore of at most 1
    platform::Event finished_{platform::Event::Reset::Manual, true};
    platform::RequestQueue requests_; // serving while the thread exists
    std::mutex notifyMutex_;
    bool silenced_ = false;
};

} // namespace vantrel
