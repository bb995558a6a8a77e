// Runs the settings-file fuzz entry over its seed files and over inputs derived from
// them, so the ordinary test run checks the same rules the fuzzer does.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "common/TempDir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int RunInput(const std::string& input)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

TEST(IniFuzzReplay, SeedsAndTheirMutationsKeepEveryRule)
{
    std::vector<std::string> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(INI_FUZZ_SEEDS))
        seeds.push_back(vantrel::testing::TempDir::Read(entry.path().string()));
    ASSERT_GE(seeds.size(), 3u);

    std::mt19937 random(20261211);
    static const char kAlphabet[] = "[]=\r\n\0 ;#abcAB01\xff";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    int runs = 0;
    for (const std::string& seed : seeds) {
        EXPECT_EQ(RunInput(seed), 0);
        for (int i = 0; i < 300; ++i) {
            std::string mutated = seed;
            const int edits = 1 + static_cast<int>(random() % 8);
            for (int e = 0; e < edits; ++e) {
                const char c = alphabet[random() % alphabet.size()];
                const std::size_t at = mutated.empty() ? 0 : random() % (mutated.size() + 1);
                switch (random() % 3) {
                case 0:
                    mutated.insert(mutated.begin() + static_cast<long>(at), c);
                    break;
                case 1:
                    if (at < mutated.size())
                        mutated[at] = c;
                    break;
                default:
                    if (at < mutated.size())
                        mutated.erase(at, 1 + random() % 4);
                    break;
                }
            }
            EXPECT_EQ(RunInput(mutated), 0);
            ++runs;
        }
    }
    EXPECT_EQ(runs, static_cast<int>(seeds.size()) * 300);
}

} // namespace
