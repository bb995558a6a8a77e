#include "platform/Thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace vantrel::platform {

namespace {
// Priority level → nice value of the thread.
constexpr std::array<std::pair<int, int>, 6> kNiceOfPriority{{
    {-2, 10},
    {-1, 5},
    {0, 0},
    {1, -5},
    {2, -10},
    {15, -15},
}};
} // namespace

bool SetCurrentThreadPriority(int priority)
{
    for (const auto& [level, nice] : kNiceOfPriority)
        if (level == priority) {
            const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
            return ::setpriority(PRIO_PROCESS, tid, nice) == 0;
        }
    return false;
}

} // namespace vantrel::platform
