// Runs the image-reader fuzz entries over their seeds and seeded mutations of them, so
// the ordinary test run checks what the fuzzers check.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "common/TempDir.h"

int CueFuzzOne(const std::uint8_t* data, std::size_t size);
int CcdFuzzOne(const std::uint8_t* data, std::size_t size);

namespace {

void Replay(const char* folder, int (*entry)(const std::uint8_t*, std::size_t), const std::string& alphabet)
{
    std::vector<std::string> seeds;
    for (const auto& file : std::filesystem::directory_iterator(folder))
        seeds.push_back(vantrel::testing::TempDir::Read(file.path().string()));
    ASSERT_FALSE(seeds.empty());
    std::mt19937 random(77);
    for (const std::string& seed : seeds) {
        ASSERT_EQ(entry(reinterpret_cast<const std::uint8_t*>(seed.data()), seed.size()), 0);
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
            ASSERT_EQ(entry(reinterpret_cast<const std::uint8_t*>(mutated.data()), mutated.size()), 0);
        }
    }
}

TEST(ImageFuzzReplay, CueSheetSeedsAndMutations)
{
    static const char kAlphabet[] = "\n \"0123456789:FILETRACKINDEXPREGAPREMSESSION0a.bin\0";
    Replay(CUE_FUZZ_SEEDS, CueFuzzOne, std::string(kAlphabet, sizeof kAlphabet - 1));
}

TEST(ImageFuzzReplay, CloneCdSeedsAndMutations)
{
    static const char kAlphabet[] = "\r\n=[]0123456789xa-PLBAPointSession\0";
    Replay(CCD_FUZZ_SEEDS, CcdFuzzOne, std::string(kAlphabet, sizeof kAlphabet - 1));
}

}  // namespace
