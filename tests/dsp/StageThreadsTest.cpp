// Settings changed from the user-interface thread while the playback thread processes
// blocks: every block must come out whole with the old or whole with the new settings.
// Run under the thread sanitizer as well.
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/Equalizer.h"
#include "dsp/VolumeChanger.h"

namespace vantrel {
namespace {

constexpr std::size_t kFrames = 2048;
constexpr int kBlocks = 150;

std::vector<float> Tone(double frequency, float amplitude)
{
    std::vector<float> samples(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i)
        samples[i] = amplitude *
                     static_cast<float>(std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / 44100.0));
    return samples;
}

// Index of the candidate equal to block, bit for bit; -1 for none.
int Match(const std::vector<float>& block, const std::vector<std::vector<float>>& candidates)
{
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (std::memcmp(block.data(), candidates[i].data(), kFrames * sizeof(float)) == 0)
            return static_cast<int>(i);
    return -1;
}

TEST(StageThreadsTest, EqualizerChangedWhileABlockIsFiltered)
{
    const std::vector<float> left = Tone(250, 8000), right = Tone(330, 6000);
    constexpr float kGains[2] = {2.0f, 0.5f};
    constexpr double kLevels[2] = {1.0, 0.5};

    TEqualizer eq;
    ASSERT_TRUE(eq.Init(wdFloat32S16, 44100));
    eq.SetEnabled(true);
    ASSERT_TRUE(eq.SetBandParams(4, 3.0f, 2.0f, TEqualizer::kDefaultFreqs[4]));

    // What each block may be: band 5 at either gain, the level at either value.
    std::vector<std::vector<float>> expected[2];
    for (const float gain : kGains) {
        for (const double level : kLevels) {
            ASSERT_TRUE(eq.SetBandParams(5, gain, 3.0f, TEqualizer::kDefaultFreqs[5]));
            eq.SetLevel(level);
            eq.Reset();
            std::vector<float> l = left, r = right;
            void* const channels[2] = {l.data(), r.data()};
            eq.Process(channels, kFrames);
            expected[0].push_back(l);
            expected[1].push_back(r);
        }
    }

    std::atomic<bool> done{false};
    std::atomic<int> changes{0};
    std::thread ui([&] {
        for (int i = 0; !done.load(); ++i) {
            eq.SetBandParams(5, kGains[i % 2], 3.0f, TEqualizer::kDefaultFreqs[5]);
            eq.SetLevel(kLevels[(i / 3) % 2]);
            eq.SetBalance(0);
            eq.SetEnabled(true);
            changes.fetch_add(1);
        }
    });
    while (changes.load() == 0)
        std::this_thread::yield();
    std::vector<int> seen(expected[0].size(), 0);
    for (int block = 0; block < kBlocks; ++block) {
        std::this_thread::yield(); // between blocks a player waits for its output
        eq.Reset();
        std::vector<float> l = left, r = right;
        void* const channels[2] = {l.data(), r.data()};
        eq.Process(channels, kFrames);
        const int matchLeft = Match(l, expected[0]), matchRight = Match(r, expected[1]);
        ASSERT_NE(matchLeft, -1) << "left block " << block << " mixes old and new settings";
        ASSERT_NE(matchRight, -1) << "right block " << block << " mixes old and new settings";
        ++seen[static_cast<std::size_t>(matchLeft)];
    }
    done.store(true);
    ui.join();
    std::string counts;
    for (const int n : seen)
        counts += std::to_string(n) + " ";
    RecordProperty("outcomes", counts);
    EXPECT_GT(changes.load(), 0);
}

TEST(StageThreadsTest, VolumeChangedWhileAChunkIsScaled)
{
    const std::vector<float> samples = Tone(1000, 10000);
    TVolumeChanger volume;
    ASSERT_TRUE(volume.Init(wdFloat32S16, 44100));
    std::atomic<bool> done{false};
    std::thread ui([&] {
        for (int i = 0; !done.load(); ++i)
            volume.SetVolume(i % 2 ? 0.5 : 0.25, i % 2 ? 0.25 : 0.5);
    });
    for (int chunk = 0; chunk < kBlocks; ++chunk) {
        std::vector<float> l = samples, r = samples;
        void* const channels[2] = {l.data(), r.data()};
        volume.Process(channels, kFrames);
        // Each channel whole at one gain.
        for (const std::vector<float>* channel : {&l, &r}) {
            const float gain = (*channel)[1] / samples[1];
            ASSERT_TRUE(gain == 0.5f || gain == 0.25f || gain == 1.0f) << gain;
            for (std::size_t i = 0; i < kFrames; ++i)
                ASSERT_EQ((*channel)[i], samples[i] * gain) << "chunk " << chunk << " frame " << i;
        }
    }
    done.store(true);
    ui.join();
}

} // namespace
} // namespace vantrel
