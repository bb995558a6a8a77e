// The queue through which CD+G packs travel from the reading thread to the window:
// the player thread appends blocks of 24-byte packs, the user-interface thread takes
// them all at once. Every operation is thread-safe; the lock is held only for copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vantrel {

inline constexpr std::size_t kCdgPackBytes = 24;
inline constexpr std::size_t kCdgPacksPerSector = 4;

class TCdgBuffer {
public:
    struct TPackBuf {
        std::unique_ptr<std::uint8_t[]> packs;
        std::size_t count = 0;
    };

    // Copies n packs (n x 24 bytes) into a new block at the end. False when memory is short.
    bool Put(const std::uint8_t* packs, std::size_t n);
    // Moves every waiting pack out as one block, in order; returns how many (0: no block).
    std::size_t TakeAll(std::unique_ptr<std::uint8_t[]>& packs);
    void ClearPacks();
    std::size_t Count() const; // blocks waiting

private:
    mutable std::mutex mutex_;
    std::vector<TPackBuf> blocks_;
};

} // namespace vantrel
