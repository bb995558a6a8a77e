// A posted message: a code and two parameters, as window and thread messages carry them.
// Codes from WM_APP (0x8000) up are the program's own; 953 is the CD-audio end notice.
#pragma once

#include <cstdint>

namespace vantrel::platform {

class Event;

inline constexpr std::uint32_t WM_APP = 0x8000;
inline constexpr std::uint32_t MM_MCINOTIFY = 953; // end of a CD-audio play

// A disc arrived in or left a drive: wParam is the event, lParam the broadcast packed
// as device type << 32 | unit mask (bit 0 drive A: .. bit 25 drive Z:).
inline constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;
inline constexpr std::uintptr_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr std::uint32_t DBT_DEVTYP_VOLUME = 2;
constexpr std::intptr_t PackDeviceBroadcast(std::uint32_t deviceType, std::uint32_t unitMask)
{
    return static_cast<std::intptr_t>((static_cast<std::uint64_t>(deviceType) << 32) | unitMask);
}
constexpr std::uint32_t BroadcastDeviceType(std::intptr_t lParam)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(lParam) >> 32);
}
constexpr std::uint32_t BroadcastUnitMask(std::intptr_t lParam)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(lParam) & 0xFFFFFFFFu);
}

struct Message {
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    // Set by the receiving thread once it has handled the message (may be null).
    Event* handled = nullptr;
};

} // namespace vantrel::platform
