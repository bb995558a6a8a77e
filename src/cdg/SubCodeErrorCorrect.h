// Checks a CD+G pack against its two Reed-Solomon codes over GF(64) and repairs one wrong
// symbol: Q covers symbols 0-3 (the command and instruction), P all 24. Table lookups
// only; the tables are shared by every instance, built by the first and freed by the last.
#pragma once

#include <cstdint>

namespace vantrel {

// Creating and destroying instances is thread-safe. CorrectP and CorrectQ change nothing
// but the pack they are given, so instances may be used from any thread; the player builds
// its instance before its reading thread starts.
class TSubCodeErrorCorrect {
public:
    TSubCodeErrorCorrect();
    TSubCodeErrorCorrect(const TSubCodeErrorCorrect& other);
    TSubCodeErrorCorrect& operator=(const TSubCodeErrorCorrect& other) = default;
    ~TSubCodeErrorCorrect();

    // pack: 24 symbols, one per byte, bits 5..0 significant. True when the pack is good or
    // one symbol was repaired; false, leaving the pack as it was, when the check fails in a
    // way no single symbol explains (or the tables could not be allocated). A repair writes
    // bits 5..0 of one byte and keeps bits 7..6.
    bool CorrectP(std::uint8_t* pack) const; // all 24 symbols
    bool CorrectQ(std::uint8_t* pack) const; // symbols 0-3

    // Whether the shared tables exist right now (for tests and diagnostics).
    static bool TablesBuilt();

    struct TTables;

private:
    const TTables* tables_ = nullptr; // null when they could not be allocated
};

} // namespace vantrel
