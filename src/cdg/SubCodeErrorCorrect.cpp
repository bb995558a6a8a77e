#include "cdg/SubCodeErrorCorrect.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>

namespace vantrel {

// GF(64) with x^6 + x + 1 and alpha = 2. mul[i][v] = alpha^i * v: row 69 = alpha^(3 * 23)
// is the largest factor the P check needs, and the exponent table runs to 71 + 62 so that
// every row is one lookup of exp[i + log[v]].
struct TSubCodeErrorCorrect::TTables {
    static constexpr std::size_t kRows = 72, kExponents = kRows + 62;

    std::uint8_t exp[kExponents];
    std::uint8_t log[64];
    std::uint8_t mul[kRows][64];

    TTables()
    {
        unsigned value = 1;
        for (std::size_t j = 0; j < kExponents; ++j) {
            exp[j] = static_cast<std::uint8_t>(value);
            value <<= 1;
            if (value & 0x40)
                value ^= 0x43;
        }
        log[0] = 0;
        for (std::size_t j = 0; j < 63; ++j)
            log[exp[j]] = static_cast<std::uint8_t>(j);
        for (std::size_t i = 0; i < kRows; ++i) {
            mul[i][0] = 0;
            for (std::size_t v = 1; v < 64; ++v)
                mul[i][v] = exp[i + log[v]];
        }
    }
};

namespace {

constexpr std::uint8_t kSymbolBits = 0x3F;

// The instances alive and the tables they share, both guarded by the mutex.
struct TShared {
    std::mutex mutex;
    std::size_t instances = 0;
    std::unique_ptr<TSubCodeErrorCorrect::TTables> tables;
};

TShared& Shared()
{
    static TShared shared;
    return shared;
}

const TSubCodeErrorCorrect::TTables* Acquire()
{
    TShared& shared = Shared();
    std::scoped_lock lock(shared.mutex);
    ++shared.instances;
    if (!shared.tables)
        shared.tables.reset(new (std::nothrow) TSubCodeErrorCorrect::TTables);
    return shared.tables.get();
}

void Release()
{
    TShared& shared = Shared();
    std::unique_ptr<TSubCodeErrorCorrect::TTables> last;
    std::scoped_lock lock(shared.mutex);
    if (--shared.instances == 0)
        last = std::move(shared.tables);
}

void Replace(std::uint8_t& byte, std::uint8_t symbol)
{
    byte = static_cast<std::uint8_t>((byte & ~kSymbolBits) | (symbol & kSymbolBits));
}

} // namespace

TSubCodeErrorCorrect::TSubCodeErrorCorrect() : tables_(Acquire()) {}

TSubCodeErrorCorrect::TSubCodeErrorCorrect(const TSubCodeErrorCorrect&) : tables_(Acquire()) {}

TSubCodeErrorCorrect::~TSubCodeErrorCorrect()
{
    Release();
}

bool TSubCodeErrorCorrect::TablesBuilt()
{
    TShared& shared = Shared();
    std::scoped_lock lock(shared.mutex);
    return shared.tables != nullptr;
}

bool TSubCodeErrorCorrect::CorrectQ(std::uint8_t* pack) const
{
    if (!tables_)
        return false;
    const auto& mul = tables_->mul;
    const std::uint8_t s0 = pack[0] & kSymbolBits, s1 = pack[1] & kSymbolBits;
    const std::uint8_t s2 = pack[2] & kSymbolBits, s3 = pack[3] & kSymbolBits;
    const std::uint8_t S0 = s0 ^ s1 ^ s2 ^ s3;
    const std::uint8_t S1 = mul[3][s0] ^ mul[2][s1] ^ mul[1][s2] ^ s3;
    if (S0 == 0)
        return S1 == 0;
    // A single error e at symbol i gives S0 = e and S1 = alpha^(3 - i) e; the repair rebuilds
    // the symbol from the other three, as S0 = 0 demands.
    if (S1 == mul[3][S0])
        Replace(pack[0], s1 ^ s2 ^ s3);
    else if (S1 == mul[2][S0])
        Replace(pack[1], s0 ^ s2 ^ s3);
    else if (S1 == mul[1][S0])
        Replace(pack[2], s0 ^ s1 ^ s3);
    else if (S1 == S0)
        Replace(pack[3], s0 ^ s1 ^ s2);
    else
        return false;
    return true;
}

bool TSubCodeErrorCorrect::CorrectP(std::uint8_t* pack) const
{
    if (!tables_)
        return false;
    const auto& mul = tables_->mul;
    // Symbol i weighs alpha^(23 - i) in S1, its square in S2 and its cube in S3.
    std::uint8_t S0 = 0, S1 = 0, S2 = 0, S3 = 0;
    for (std::size_t i = 0; i < 24; ++i) {
        const std::uint8_t s = pack[i] & kSymbolBits;
        const std::size_t w = 23 - i;
        S0 ^= s;
        S1 ^= mul[w][s];
        S2 ^= mul[2 * w][s];
        S3 ^= mul[3 * w][s];
    }
    if (S0 == 0)
        return (S1 | S2 | S3) == 0;
    for (std::size_t i = 0; i < 24; ++i) {
        const std::size_t w = 23 - i;
        if (S1 == mul[w][S0] && S2 == mul[2 * w][S0] && S3 == mul[3 * w][S0]) {
            Replace(pack[i], (pack[i] ^ S0) & kSymbolBits);
            return true;
        }
    }
    return false;
}

} // namespace vantrel
