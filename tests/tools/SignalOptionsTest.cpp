// The signal-chain options of rip and play: how they are read, and what the ripped WAV
// files hold when the CLI runs with them over a generated disc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <numbers>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "SignalOptions.h"
#include "CliRun.h"
#include "common/TempDir.h"
#include "digital/WavSamples.h"

namespace vantrel {
namespace {

using Frames = std::vector<std::uint32_t>; // stereo frames, left in the low half

std::int16_t Left(std::uint32_t frame)
{
    return static_cast<std::int16_t>(frame & 0xFFFF);
}
std::int16_t Right(std::uint32_t frame)
{
    return static_cast<std::int16_t>(frame >> 16);
}
std::uint32_t Frame(int left, int right)
{
    return static_cast<std::uint16_t>(left) | std::uint32_t{static_cast<std::uint16_t>(right)} << 16;
}

double Rms(const Frames& frames, std::size_t from)
{
    double sum = 0;
    for (std::size_t i = from; i < frames.size(); ++i) {
        const double left = Left(frames[i]), right = Right(frames[i]);
        sum += left * left + right * right;
    }
    return std::sqrt(sum / (2.0 * static_cast<double>(frames.size() - from)));
}

int Peak(const Frames& frames)
{
    int peak = 0;
    for (const std::uint32_t f : frames)
        peak = std::max({peak, std::abs(int{Left(f)}), std::abs(int{Right(f)})});
    return peak;
}

// ---- reading the options ----

cli::SignalOptions Parsed(const std::map<std::string, std::string>& given)
{
    cli::SignalOptions options;
    std::string error;
    EXPECT_TRUE(cli::ParseSignalOptions(given, options, error)) << error;
    return options;
}

TEST(SignalOptionsParse, NothingGivenLeavesThePlayerAsItIs)
{
    const cli::SignalOptions o = Parsed({{"--track", "3"}});
    EXPECT_TRUE(o.deEmphasis);
    EXPECT_EQ(o.volumeLeft, 0);
    EXPECT_EQ(o.volumeRight, 0);
    EXPECT_EQ(o.stereo, smStereo);
    EXPECT_FALSE(o.eqEnabled);
    EXPECT_EQ(o.speed, 0);
    EXPECT_FALSE(o.reverse);
    EXPECT_FALSE(o.norm.enabled);
    EXPECT_EQ(o.firstGiven, "");
}

TEST(SignalOptionsParse, ValuesLandInTheirSettings)
{
    struct Case {
        std::map<std::string, std::string> given;
        std::function<void(const cli::SignalOptions&)> check;
    };
    const Case cases[] = {
        {{{"--volume", "7"}},
         [](const auto& o) { EXPECT_EQ(std::pair(o.volumeLeft, o.volumeRight), std::pair(7, 7)); }},
        {{{"--volume", "3,12"}},
         [](const auto& o) { EXPECT_EQ(std::pair(o.volumeLeft, o.volumeRight), std::pair(3, 12)); }},
        {{{"--stereo", "side"}}, [](const auto& o) { EXPECT_EQ(o.stereo, smSide); }},
        {{{"--eq-balance", "-40"}},
         [](const auto& o) {
             EXPECT_TRUE(o.eqEnabled) << "any equalizer option turns it on";
             EXPECT_EQ(o.eqBalance, -40);
         }},
        {{{"--eq", "-30,1,2,3,4,5,6,7,8,9,10,11,12,13.5,30"}},
         [](const auto& o) {
             EXPECT_EQ(o.eqGainsDb.front(), -30.0);
             EXPECT_EQ(o.eqGainsDb[13], 13.5);
             EXPECT_EQ(o.eqGainsDb.back(), 30.0);
         }},
        {{{"--speed", "255"}, {"--speed-range", "-1,6"}, {"--speed-interval", "3"}},
         [](const auto& o) {
             EXPECT_EQ(o.speed, kSpeedRandom);
             EXPECT_TRUE(o.speedRangeSet);
             EXPECT_EQ(std::pair(o.speedMin, o.speedMax), std::pair(-1, 6));
             EXPECT_EQ(o.speedInterval, 3);
         }},
        {{{"--speed-ratio", "0.5"}},
         [](const auto& o) {
             EXPECT_EQ(o.speed, kSpeedFree);
             EXPECT_EQ(o.speedRatio, 0.5);
         }},
        {{{"--norm-average", "40"}},
         [](const auto& o) {
             EXPECT_TRUE(o.norm.enabled) << "any normalizer option turns it on";
             EXPECT_FALSE(o.norm.avgVolFromPeak);
             EXPECT_EQ(o.norm.avgVolFromVal, 40u);
         }},
        {{{"--normalize", ""}, {"--norm-block", "25"}, {"--norm-max-up", "250"}},
         [](const auto& o) {
             EXPECT_EQ(o.norm.blockSizeMilli, 25u);
             EXPECT_EQ(o.norm.maxComp, 250u);
             EXPECT_EQ(o.norm.avgVolume, TNormParams{}.avgVolume) << "what is not given keeps its default";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given.begin()->first + " " + c.given.begin()->second);
        c.check(Parsed(c.given));
    }
}

TEST(SignalOptionsParse, PlayRefusesWhatItsPathWouldIgnore)
{
    const cli::SignalOptions stereo = Parsed({{"--stereo", "mix"}});
    const cli::SignalOptions digital = Parsed({{"--volume", "2"}, {"--reverse", ""}});
    EXPECT_EQ(cli::SignalOptionsUnfit(stereo, pmDigital), "");
    EXPECT_EQ(cli::SignalOptionsUnfit(stereo, pmAnalog), "") << "analog play has a stereo mode";
    EXPECT_NE(cli::SignalOptionsUnfit(stereo, pmMci).find("--stereo"), std::string::npos);
    EXPECT_EQ(cli::SignalOptionsUnfit(digital, pmAnalog), "--reverse works only with --mode digital");
    EXPECT_EQ(cli::SignalOptionsUnfit(digital, pmMci), "--reverse works only with --mode digital");
    EXPECT_EQ(cli::SignalOptionsUnfit(cli::SignalOptions{}, pmMci), "");
}

// ---- through the command line ----

using testing::Execute;
using testing::Outcome;

// One second each: a 10 kHz tone flagged pre-emphasis, counter audio (every sample names
// its position, left and right different), and the same tone without the flag.
constexpr std::int64_t kTrackFrames = 44100;
constexpr int kToneTrack = 1, kCounterTrack = 2, kPlainToneTrack = 3;

class CliSignal : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Outcome made = Execute(std::string(MKDISC) +
                                     " -e 'disc\n"
                                     "track length=00:01:00 audio=tone:10000 pre=1\n"
                                     "track length=00:01:00\n"
                                     "track length=00:01:00 audio=tone:10000\n' " +
                                     dir.Path().string());
        ASSERT_EQ(made.status, 0) << made.out;
        image = made.out.substr(0, made.out.find('\n'));
    }

    // The track's audio as the image holds it: tracks follow one another in the BIN file.
    Frames Disc(int track) const
    {
        std::ifstream in(std::filesystem::path(image).replace_extension(".bin"), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        Frames frames(kTrackFrames);
        const auto from = static_cast<std::size_t>((track - 1) * kTrackFrames * 4);
        if (bytes.size() >= from + frames.size() * 4)
            std::memcpy(frames.data(), bytes.data() + from, frames.size() * 4);
        return frames;
    }

    Outcome Rip(const std::string& arguments)
    {
        return Execute(std::string(VANTREL_CLI) + " rip --image " + image + " --out " + out + " " + arguments);
    }

    // Rips one track with the options; its samples, or none when the rip failed.
    Frames RipTrack(int track, const std::string& arguments)
    {
        std::filesystem::remove_all(out);
        const Outcome run = Rip("--track " + std::to_string(track) + " " + arguments);
        EXPECT_EQ(run.status, 0) << arguments << ": " << run.out;
        const std::size_t done = run.out.find("  done  ");
        if (run.status != 0 || done == std::string::npos)
            return {};
        const std::string file = run.out.substr(done + 8, run.out.find('\n', done) - done - 8);
        const testing::TWavFile wav = testing::ReadWav(file);
        EXPECT_TRUE(wav.pcmHeader) << file;
        return wav.samples;
    }

    testing::TempDir dir;
    std::string image;
    std::string out = dir.File("out");
};

// |H| of the analog de-emphasis shelf (time constants 50 us and 15 us) in dB.
double AnalogDeEmphasisDb(double hz)
{
    const double w = 2.0 * std::numbers::pi * hz;
    return 10.0 * std::log10((1.0 + std::pow(w * 15e-6, 2)) / (1.0 + std::pow(w * 50e-6, 2)));
}

TEST_F(CliSignal, DeEmphasisFiltersOnlyFlaggedTracksAndCanBeTurnedOff)
{
    const Frames tone = Disc(kToneTrack);
    const Frames filtered = RipTrack(kToneTrack, "");
    ASSERT_EQ(filtered.size(), tone.size());
    EXPECT_NE(filtered, tone);
    // The analog curve is -7.6 dB at 10 kHz; the digital filter stays close to it.
    const double dropDb = 20.0 * std::log10(Rms(filtered, 100) / Rms(tone, 100));
    EXPECT_NEAR(dropDb, AnalogDeEmphasisDb(10000.0), 1.0);

    EXPECT_EQ(RipTrack(kToneTrack, "--deemphasis off"), tone);
    EXPECT_EQ(RipTrack(kPlainToneTrack, "--deemphasis on"), Disc(kPlainToneTrack)) << "the track is not flagged";
    EXPECT_EQ(RipTrack(kCounterTrack, ""), Disc(kCounterTrack));
}

// The gain of a digital volume step: the component's table attenuates step s (1..14) by
// a power of ten; steps 2 and 5 are 10^-0.056 and 10^-0.595.
std::int16_t Scaled(std::int16_t sample, double powerOfTen)
{
    return static_cast<std::int16_t>(
        std::trunc(static_cast<float>(sample) * static_cast<float>(std::pow(10.0, powerOfTen))));
}

TEST_F(CliSignal, OptionsShapeTheRippedSamples)
{
    using Check = std::function<void(const Frames& ripped, const Frames& disc)>;
    const auto lengthNear = [](double share) {
        return [share](const Frames& ripped, const Frames& disc) {
            EXPECT_NEAR(static_cast<double>(ripped.size()), static_cast<double>(disc.size()) * share,
                        static_cast<double>(disc.size()) * 0.005);
        };
    };
    const auto gainDb = [](double db, double tolerance) {
        return [db, tolerance](const Frames& ripped, const Frames& disc) {
            ASSERT_EQ(ripped.size(), disc.size());
            EXPECT_NEAR(20.0 * std::log10(Rms(ripped, 100) / Rms(disc, 100)), db, tolerance);
        };
    };
    const auto peakNear = [](double peak) {
        return [peak](const Frames& ripped, const Frames&) { EXPECT_NEAR(Peak(ripped), peak, peak * 0.01); };
    };
    const auto sampleBySample = [](std::function<std::uint32_t(std::uint32_t)> expected) {
        return [expected](const Frames& ripped, const Frames& disc) {
            ASSERT_EQ(ripped.size(), disc.size());
            std::size_t wrong = 0;
            for (std::size_t i = 0; i < disc.size(); ++i)
                wrong += ripped[i] != expected(disc[i]);
            EXPECT_EQ(wrong, 0u);
        };
    };
    struct Case {
        const char* arguments;
        int track;
        Check check;
    };
    const Case cases[] = {
        {"--volume 5,2", kCounterTrack,
         sampleBySample([](std::uint32_t f) { return Frame(Scaled(Left(f), -0.595), Scaled(Right(f), -0.056)); })},
        {"--volume 15", kCounterTrack, sampleBySample([](std::uint32_t) { return 0u; })},
        {"--stereo left", kCounterTrack, sampleBySample([](std::uint32_t f) { return Frame(Left(f), Left(f)); })},
        {"--stereo mix", kCounterTrack, sampleBySample([](std::uint32_t f) {
             const int mix = (Left(f) + Right(f)) >> 1;
             return Frame(mix, mix);
         })},
        {"--reverse", kCounterTrack,
         [](const Frames& ripped, const Frames& disc) { EXPECT_EQ(ripped, Frames(disc.rbegin(), disc.rend())); }},
        {"--speed 2", kCounterTrack, lengthNear(0.5)},
        {"--speed-ratio 1.5", kCounterTrack, lengthNear(2.0 / 3.0)},
        // Random steps between 2 and 3 times as fast, whichever are drawn.
        {"--speed 255 --speed-range 2,3 --speed-interval 1", kCounterTrack,
         [](const Frames& ripped, const Frames& disc) {
             EXPECT_GE(static_cast<double>(ripped.size()), static_cast<double>(disc.size()) / 3.0 * 0.99);
             EXPECT_LE(static_cast<double>(ripped.size()), static_cast<double>(disc.size()) / 2.0 * 1.01);
         }},
        {"--eq 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0", kCounterTrack,
         [](const Frames& ripped, const Frames& disc) { EXPECT_EQ(ripped, disc); }},
        // The 14th band is centred at 10079 Hz: +6 dB there lifts the 10 kHz tone by about as much.
        {"--eq 0,0,0,0,0,0,0,0,0,0,0,0,0,6,0", kPlainToneTrack, gainDb(6.0, 0.5)},
        {"--eq-level -6", kPlainToneTrack, gainDb(-6.0, 0.05)},
        {"--eq-balance 100", kPlainToneTrack, sampleBySample([](std::uint32_t f) { return Frame(0, Right(f)); })},
        // The tone peaks at 16000; the normalizer pulls each 10 ms toward its target.
        {"--normalize --norm-target 75 --norm-ratio-up 100", kPlainToneTrack, peakNear(0.75 * 32767)},
        {"--normalize --norm-target 90 --norm-ratio-up 100 --norm-max-up 150", kPlainToneTrack, peakNear(24000)},
        {"--norm-target 30 --norm-ratio-down 0", kPlainToneTrack, peakNear(0.30 * 32767)},
        {"--norm-gain 50", kPlainToneTrack, peakNear(8000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Frames ripped = RipTrack(c.track, c.arguments);
        ASSERT_FALSE(ripped.empty());
        c.check(ripped, Disc(c.track));
    }
}

TEST_F(CliSignal, BadValuesFailOnOneLineAndWriteNothing)
{
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"--volume 16", "bad value for --volume: 16"},
        {"--volume 1,2,3", "bad value for --volume"},
        {"--stereo wide", "bad value for --stereo: wide"},
        {"--eq 1,2", "bad value for --eq: 1,2"},
        {"--eq 0,0,0,0,0,0,0,0,0,0,0,0,0,0,31", "bad value for --eq"},
        {"--eq-balance 101", "bad value for --eq-balance"},
        {"--speed-ratio 0.3", "bad value for --speed-ratio: 0.3"},
        {"--speed 11", "bad value for --speed: 11"},
        {"--speed 2 --speed-ratio 1.5", "--speed or --speed-ratio"},
        {"--speed-range 1,3", "--speed-range needs --speed 255"},
        {"--speed 255 --speed-range 3,3", "bad value for --speed-range"},
        {"--deemphasis maybe", "bad value for --deemphasis"},
        {"--norm-average loud", "bad value for --norm-average"},
        {"--norm-target 0", "bad value for --norm-target"},
    };
    for (const Case& c : cases) {
        const Outcome run = Rip(c.arguments);
        EXPECT_NE(run.status, 0) << c.arguments;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << c.arguments << ": " << run.out;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << c.arguments << ": " << run.out;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.arguments;
    }
    // play reads the same options, and refuses those its path would ignore.
    const std::string play = std::string(VANTREL_CLI) + " play --image " + image + " ";
    for (const auto& [arguments, message] :
         {std::pair{"--volume 16", "bad value for --volume: 16"},
          std::pair{"--mode analog --eq-level 3", "--eq-level works only with --mode digital"},
          std::pair{"--mode mci --stereo left", "--stereo works only with --mode digital or analog"}}) {
        const Outcome run = Execute(play + arguments);
        EXPECT_NE(run.status, 0) << arguments;
        EXPECT_NE(run.out.find(message), std::string::npos) << arguments << ": " << run.out;
    }
}

} // namespace
} // namespace vantrel
