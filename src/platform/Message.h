// A posted message: a code and two parameters, as window and thread messages carry them.
// Codes from WM_APP (0x8000) up are the program's own; 953 is the CD-audio end notice.
#pragma once

#include <cstdint>

namespace vantrel::platform {

class Event;

inline constexpr std::uint32_t WM_APP = 0x8000;
inline constexpr std::uint32_t MM_MCINOTIFY = 953; // end of a CD-audio play

struct Message {
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    // Set by the receiving thread once it has handled the message (may be null).
    Event* handled = nullptr;
};

} // namespace vantrel::platform
