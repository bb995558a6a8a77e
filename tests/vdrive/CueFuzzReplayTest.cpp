// Runs the cue-sheet fuzz entry over its seeds and seeded mutations of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "common/TempDir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(CueFuzzReplay, SeedsAndTheirMutationsKeepEveryRule)
{
    std::vector<std::string> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(CUE_FUZZ_SEEDS))
        seeds.push_back(vantrel::testing::TempDir::Read(entry.path().string()));
    ASSERT_GE(seeds.size(), 2u);
    std::mt19937 random(77);
    static const char kAlphabet[] = "\n \"0123456789:FILETRACKINDEXPREGAPREMSESSION0a.bin\0";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    for (const std::string& seed : seeds) {
        for (int i = 0; i < 400; ++i) {
            std::string mutated = seed;
            for (int e = 0, edits = 1 + static_cast<int>(random() % 6); e < edits; ++e) {
                const std::size_t at = mutated.empty() ? 0 : random() % mutated.size();
                const char c = alphabet[random() % alphabet.size()];
                if (random() % 2 && at < mutated.size())
                    mutated[at] = c;
                else
                    mutated.insert(mutated.begin() + static_cast<long>(at), c);
            }
            ASSERT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(mutated.data()), mutated.size()), 0);
        }
    }
}

}  // namespace
