#include "cdg/CdgBuffer.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace vantrel {

bool TCdgBuffer::Put(const std::uint8_t* packs, std::size_t n)
{
    if (!packs || n == 0)
        return true;
    TPackBuf block{std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[n * kCdgPackBytes]), n};
    if (!block.packs)
        return false;
    std::copy_n(packs, n * kCdgPackBytes, block.packs.get());
    try {
        std::scoped_lock lock(mutex_);
        blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::size_t TCdgBuffer::TakeAll(std::unique_ptr<std::uint8_t[]>& packs)
{
    std::vector<TPackBuf> taken;
    {
        std::scoped_lock lock(mutex_);
        taken.swap(blocks_);
    }
    std::size_t total = 0;
    for (const TPackBuf& block : taken)
        total += block.count;
    packs.reset();
    if (total == 0)
        return 0;
    packs.reset(new (std::nothrow) std::uint8_t[total * kCdgPackBytes]);
    if (!packs) {
        // Short of memory: the packs wait for the next call instead of being lost.
        std::scoped_lock lock(mutex_);
        blocks_.insert(blocks_.begin(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
        return 0;
    }
    std::uint8_t* out = packs.get();
    for (const TPackBuf& block : taken)
        out = std::copy_n(block.packs.get(), block.count * kCdgPackBytes, out);
    return total;
}

void TCdgBuffer::ClearPacks()
{
    std::vector<TPackBuf> dropped;
    std::scoped_lock lock(mutex_);
    dropped.swap(blocks_);
}

std::size_t TCdgBuffer::Count() const
{
    std::scoped_lock lock(mutex_);
    return blocks_.size();
}

} // namespace vantrel
