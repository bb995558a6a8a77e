// How a SCSI command block reaches a drive: one operation, execute a command block with
// a buffer in a direction within a time-out. The adapter path and the letter path both
// offer it; the command set above neither knows nor cares which one it talks to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "drive/KsCdRom.h"

namespace vantrel {

enum class ScsiDirection { None, In, Out };

// Which path a drive's commands take: the adapter path or the letter path.
enum class Transport : std::uint8_t { Aspi = 0, Spti = 1 };

inline constexpr std::size_t kSenseBytes = 14;
inline constexpr std::uint32_t kDefaultTimeoutMs = 15000;

struct ScsiRequest {
    const std::uint8_t* cdb = nullptr;
    std::size_t cdbLength = 0;  // 6, 10 or 12
    ScsiDirection direction = ScsiDirection::None;
    std::uint8_t* buffer = nullptr;
    std::size_t length = 0;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
};

// The fixed-format sense bytes of the last command, as the drive returned them.
struct ScsiSense {
    std::array<std::uint8_t, kSenseBytes> bytes{};
    std::uint8_t Key() const { return bytes[2] & 0x0F; }
    std::uint8_t Asc() const { return bytes[12]; }
    std::uint8_t Ascq() const { return bytes[13]; }
};

class IScsiTransport {
public:
    virtual ~IScsiTransport() = default;
    // True only when the command completed with GOOD status and no host or driver error;
    // sense holds what the drive reported either way (zero when it reported nothing).
    virtual bool Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense) = 0;
};

}  // namespace vantrel
