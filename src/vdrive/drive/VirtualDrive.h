// The emulated CD drive: takes SCSI command blocks and answers them from a Disc the way an
// MMC drive of the chosen personality would, with its faults (jitter, read errors, slow
// reads, a tray that opens mid-play) and an analog play clock with a line out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "vdrive/Disc.h"
#include "vdrive/drive/DriveOptions.h"

namespace vantrel::vdrive {

// Sense data of a refused command: sense key, additional sense code and its qualifier.
struct Sense {
    std::uint8_t key = 0, asc = 0, ascq = 0;
    friend bool operator==(const Sense&, const Sense&) = default;
};

enum class Direction { None, In, Out };

inline constexpr std::uint8_t kStatusGood = 0, kStatusCheckCondition = 2;

struct CommandResult {
    std::uint8_t status = kStatusGood;
    Sense sense;                 // all zero with GOOD
    std::size_t transferred = 0; // bytes moved to or from the buffer
};

// Byte 1 of a READ SUB-CHANNEL answer.
namespace audio_status {
inline constexpr std::uint8_t kPlaying = 0x11, kPaused = 0x12, kCompleted = 0x13, kError = 0x14, kNone = 0x15;
}

// Where the drive's analog output goes. Audio() gets 16-bit stereo frames (left, right) in
// play order, with the audio control page's routing and volumes applied; it runs on the
// thread that calls VirtualDrive::AdvanceLineOut and must not call back into the drive.
class ILineOut {
public:
    virtual ~ILineOut() = default;
    virtual void Audio(const std::int16_t* stereo, std::size_t frames) = 0;
};

// Every public member may be called from any thread; commands run one at a time. Faults
// of analog play (the tray opening, an error sector reached) happen when the drive is next
// addressed: any command or AdvanceLineOut. OnMediaChange and the injected clock, sleep and
// line out are called with no lock held, except the clock, which must not call the drive.
class VirtualDrive {
public:
    using Clock = std::function<std::int64_t()>; // a steady time in milliseconds
    using Sleep = std::function<void(int milliseconds)>;

    explicit VirtualDrive(DriveOptions options = {});
    ~VirtualDrive();
    VirtualDrive(const VirtualDrive&) = delete;
    VirtualDrive& operator=(const VirtualDrive&) = delete;

    // Puts a disc in and closes the tray (a null disc is Remove()). Raises OnMediaChange(true).
    void Insert(std::shared_ptr<const Disc> disc);
    // Takes the disc out, tray or not; raises OnMediaChange(false) when it was loaded.
    void Remove();
    bool HasDisc() const; // a disc is in and the tray is closed
    bool TrayOpen() const;

    // Runs one command block. The buffer receives (Direction::In) or supplies
    // (Direction::Out) at most length bytes; a null buffer counts as length 0.
    CommandResult Execute(const std::uint8_t* cdb, std::size_t cdbLength, Direction direction, std::uint8_t* buffer,
                          std::size_t length);

    // Raised after the tray closes on a disc (true) or a loaded disc goes (false): by
    // Insert, Remove, START STOP UNIT and the tray-open-at fault. Assign before use.
    std::function<void(bool inserted)> OnMediaChange;

    // Attaches the analog output (null detaches); it hears what plays from then on.
    void SetLineOut(ILineOut* lineOut);
    // Hands every sample played since the last call to the line out, in order.
    void AdvanceLineOut();

    // For tests: the time base of analog play and the wait of the delay option.
    void SetClock(Clock clock);
    void SetSleep(Sleep sleep);

    const DriveOptions& Options() const;

private:
    class Impl;
    void Raise(const std::vector<bool>& events);
    std::unique_ptr<Impl> impl_;
};

} // namespace vantrel::vdrive
