#include "digital/Synchronizer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "drive/CdAddress.h"

namespace vantrel {

namespace {
constexpr std::size_t kSampleBytes = 4;
}

bool TSynchronizer::Setup(int frames)
{
    reference_.reset();
    frames_ = 0;
    held_ = 0;
    if (frames == 0)
        return true;
    if (frames < 0 || frames > std::numeric_limits<std::int32_t>::max() / kFrameBytes)
        return false;
    reference_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(frames) * kFrameBytes]);
    if (!reference_)
        return false;
    frames_ = frames;
    return true;
}

TSyncResult TSynchronizer::Process(const void* data, int length, int& outLength, int& outOffset, int skip)
{
    const auto* block = static_cast<const std::uint8_t*>(data);
    length = std::max(length, 0);
    skip = std::max(skip, 0);
    if (skip >= length) {
        outOffset = 0;
        outLength = length;
        return srSkipTooLarge; // the old reference stays
    }
    outOffset = skip;
    outLength = length - skip;
    if (!reference_)
        return srDisabled;

    TSyncResult result = srNoReference;
    if (held_ > 0) {
        result = srNoMatch;
        const int k = held_;
        const int expected = skip - k;
        const std::size_t bytes = static_cast<std::size_t>(k) * kSampleBytes;
        const auto matchesAt = [&](int at) {
            return std::memcmp(block + static_cast<std::size_t>(at) * kSampleBytes, reference_.get(), bytes) == 0;
        };
        const int steps = std::max(length - skip, expected);
        for (int i = 0; i < steps; ++i) {
            const int after = expected + i;
            if (after >= 0 && after <= length - k && matchesAt(after)) {
                outOffset = after + k;
                result = srMatchAfter;
                break;
            }
            // At distance 0 the candidate is the one just tried.
            const int before = expected - i;
            if (i > 0 && before >= 0 && matchesAt(before)) {
                outOffset = before + k;
                result = srMatchBefore;
                break;
            }
        }
        outLength = length - outOffset;
    }

    // The next block is compared against the end of this one as read, whatever was delivered.
    const int keep = std::min(length, frames_ * kFrameSamples);
    std::memcpy(reference_.get(), block + static_cast<std::size_t>(length - keep) * kSampleBytes,
                static_cast<std::size_t>(keep) * kSampleBytes);
    held_ = keep;
    return result;
}

} // namespace vantrel
