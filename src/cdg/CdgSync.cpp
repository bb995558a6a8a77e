#include "cdg/CdgSync.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "cdg/CdgBuffer.h"

namespace vantrel {

bool TCdgSync::Init(std::uint32_t capacity)
{
    tail_.reset();
    capacity_ = 0;
    held_ = 0;
    if (capacity == 0)
        return true;
    tail_.reset(new (std::nothrow) std::uint8_t[std::size_t{capacity} * kCdgPacksPerSector * kCdgPackBytes]);
    if (!tail_)
        return false;
    capacity_ = capacity;
    return true;
}

void TCdgSync::SetStep(std::uint8_t step)
{
    step_ = std::max<std::uint8_t>(step, 1);
}

TCdgSyncResult TCdgSync::Sync(const std::uint8_t* packs, std::uint32_t count, std::uint32_t& outCount,
                              std::uint32_t& outStart, std::uint32_t offset)
{
    if (offset >= count) {
        outStart = 0;
        outCount = count;
        return csOffsetTooLarge;
    }
    outStart = offset;
    outCount = count - offset;
    if (capacity_ == 0 || !tail_)
        return csOff;

    TCdgSyncResult result = csNothingHeld;
    if (held_ > 0) {
        result = csNotFound;
        const std::int64_t h = held_, n = count;
        const std::int64_t expected = std::int64_t{offset} - h; // may lie before the run
        const std::int64_t range = std::max(n - offset, expected);
        const auto holdsTail = [&](std::int64_t at) {
            return at >= 0 && at + h <= n &&
                   std::memcmp(packs + at * kCdgPackBytes, tail_.get(), static_cast<std::size_t>(h) * kCdgPackBytes) == 0;
        };
        for (std::int64_t sum = 0; sum < range; sum += step_) {
            if (const std::int64_t c = expected + sum; holdsTail(c)) {
                outStart = static_cast<std::uint32_t>(c + h);
                result = csFoundForward;
                break;
            }
            if (const std::int64_t b = expected - sum; holdsTail(b)) {
                outStart = static_cast<std::uint32_t>(b + h);
                result = csFoundBackward;
                break;
            }
        }
        outCount = count - outStart;
    }
    Keep(packs, count);
    return result;
}

void TCdgSync::Keep(const std::uint8_t* packs, std::uint32_t count)
{
    const std::uint32_t room = capacity_ * static_cast<std::uint32_t>(kCdgPacksPerSector);
    held_ = std::min(count, room);
    std::memcpy(tail_.get(), packs + std::size_t{count - held_} * kCdgPackBytes, std::size_t{held_} * kCdgPackBytes);
}

} // namespace vantrel
