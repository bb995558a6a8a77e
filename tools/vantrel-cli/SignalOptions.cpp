#include "SignalOptions.h"

#include <cmath>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/KsCdPlayer.h"
#include "support/TextUtils.h"

namespace vantrel::cli {

namespace {

constexpr double kEqGainLimitDb = 30.0;
constexpr double kMaxSpeedRatio = 10.0;
constexpr int kMaxSpeedInterval = 3600;

std::vector<std::string_view> SplitList(std::string_view text)
{
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t comma = text.find(',', from);
        parts.push_back(text.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from));
        if (comma == std::string_view::npos)
            return parts;
        from = comma + 1;
    }
}

template <class T> bool Whole(std::string_view text, std::int64_t lowest, std::int64_t highest, T& out)
{
    const std::optional<std::int64_t> value = ParseDecimal(text);
    if (!value || *value < lowest || *value > highest)
        return false;
    out = static_cast<T>(*value);
    return true;
}

bool Real(std::string_view text, double lowest, double highest, double& out)
{
    const std::optional<double> value = ParseFloat(text);
    if (!value || *value < lowest || *value > highest)
        return false;
    out = *value;
    return true;
}

// How one option reads its value into the options; false for a value it does not take.
using Reader = bool (*)(std::string_view value, SignalOptions& o);

// The stage an option switches on by being given at all.
enum class TurnsOn { Nothing, Equalizer, Normalizer };

struct Rule {
    const char* name;
    const char* accepts; // what a good value looks like; nullptr for a flag
    bool digitalOnly;    // the analog path has no such stage
    Reader read;
    TurnsOn turnsOn = TurnsOn::Nothing;
};

const Rule kRules[] = {
    {"--deemphasis", "on or off", true,
     [](std::string_view v, SignalOptions& o) {
         o.deEmphasis = v == "on";
         return v == "on" || v == "off";
     }},
    {"--volume", "a step 0..15, or LEFT,RIGHT", false,
     [](std::string_view v, SignalOptions& o) {
         const auto steps = SplitList(v);
         return steps.size() <= 2 && Whole(steps.front(), 0, 15, o.volumeLeft) &&
                Whole(steps.back(), 0, 15, o.volumeRight);
     }},
    {"--stereo", "stereo, left, right, mix or side", false,
     [](std::string_view v, SignalOptions& o) {
         static const std::pair<std::string_view, StereoModes> kModes[] = {
             {"stereo", smStereo}, {"left", smLeft}, {"right", smRight}, {"mix", smMix}, {"side", smSide}};
         for (const auto& [name, mode] : kModes)
             if (v == name) {
                 o.stereo = mode;
                 return true;
             }
         return false;
     }},
    {"--eq", "15 band gains in dB from -30 to 30, separated by commas", true,
     [](std::string_view v, SignalOptions& o) {
         const auto gains = SplitList(v);
         if (gains.size() != o.eqGainsDb.size())
             return false;
         for (std::size_t band = 0; band < gains.size(); ++band)
             if (!Real(gains[band], -kEqGainLimitDb, kEqGainLimitDb, o.eqGainsDb[band]))
                 return false;
         return true;
     },
     TurnsOn::Equalizer},
    {"--eq-level", "a level in dB from -60 to 20", true,
     [](std::string_view v, SignalOptions& o) { return Real(v, -60.0, 20.0, o.eqLevelDb); }, TurnsOn::Equalizer},
    {"--eq-balance", "-100 (left only) .. 100 (right only)", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, -100, 100, o.eqBalance); }, TurnsOn::Equalizer},
    {"--speed", "a step -2..10, or 255 (random)", true,
     [](std::string_view v, SignalOptions& o) {
         if (v == "255") {
             o.speed = kSpeedRandom;
             return true;
         }
         return Whole(v, -2, 10, o.speed);
     }},
    {"--speed-ratio", "a factor from 0.5 to 10", true,
     [](std::string_view v, SignalOptions& o) {
         o.speed = kSpeedFree;
         return Real(v, 0.5, kMaxSpeedRatio, o.speedRatio);
     }},
    {"--speed-range", "MIN,MAX: steps -2..10, MIN below MAX", true,
     [](std::string_view v, SignalOptions& o) {
         const auto steps = SplitList(v);
         o.speedRangeSet = true;
         return steps.size() == 2 && Whole(steps[0], -2, 10, o.speedMin) && Whole(steps[1], -2, 10, o.speedMax) &&
                o.speedMin < o.speedMax;
     }},
    {"--speed-interval", "seconds 1..3600", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 1, kMaxSpeedInterval, o.speedInterval); }},
    {"--reverse", nullptr, true,
     [](std::string_view, SignalOptions& o) {
         o.reverse = true;
         return true;
     }},
    {"--normalize", nullptr, true, [](std::string_view, SignalOptions&) { return true; }, TurnsOn::Normalizer},
    {"--norm-block", "milliseconds 1..10000", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 1, 10000, o.norm.blockSizeMilli); },
     TurnsOn::Normalizer},
    {"--norm-target", "percent of full scale 1..100", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 1, 100, o.norm.avgVolume); }, TurnsOn::Normalizer},
    {"--norm-ratio-down", "percent 0..100 (0 pulls loud parts fully down to the target)", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 0, 100, o.norm.compRatio1); }, TurnsOn::Normalizer},
    {"--norm-ratio-up", "percent 0..100 (100 raises quiet parts fully to the target)", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 0, 100, o.norm.compRatio2); }, TurnsOn::Normalizer},
    {"--norm-max-up", "percent 100..1000", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 100, 1000, o.norm.maxComp); }, TurnsOn::Normalizer},
    {"--norm-gain", "percent 1..1000", true,
     [](std::string_view v, SignalOptions& o) { return Whole(v, 1, 1000, o.norm.gain); }, TurnsOn::Normalizer},
    {"--norm-average", "peak, or the loudest share of samples in percent 1..100", true,
     [](std::string_view v, SignalOptions& o) {
         o.norm.avgVolFromPeak = v == "peak";
         return o.norm.avgVolFromPeak || Whole(v, 1, 100, o.norm.avgVolFromVal);
     },
     TurnsOn::Normalizer},
};

} // namespace

const char kSignalOptionsUsage[] =
    "signal options (the digital path; --volume and --stereo also play analog):\n"
    "  --deemphasis on|off     undo the treble boost of tracks flagged pre-emphasis (default on)\n"
    "  --volume STEP[,STEP]    volume steps 0 (full) .. 15 (silent); one value: both channels\n"
    "  --stereo MODE           stereo, left, right, mix or side\n"
    "  --eq G1,...,G15         gains in dB (-30..30) of the 15 bands, 25 Hz to 16 kHz\n"
    "  --eq-level DB           the equalizer's output level in dB (-60..20)\n"
    "  --eq-balance B          -100 (left only) .. 100 (right only)\n"
    "                          (any --eq option turns the equalizer on)\n"
    "  --speed CODE            -2 half, -1 two thirds, 0 normal, 1 one and a half, 2..10 times,\n"
    "                          255 random steps: --speed-range MIN,MAX  --speed-interval SECONDS\n"
    "  --speed-ratio R         any speed factor from 0.5 to 10\n"
    "  --reverse               play backwards\n"
    "  --normalize             even out the loudness, tuned by (percentages):\n"
    "      --norm-block MS  --norm-target PCT  --norm-ratio-down PCT  --norm-ratio-up PCT\n"
    "      --norm-max-up PCT  --norm-gain PCT  --norm-average peak|PCT\n";

const std::set<std::string>& SignalOptionNames()
{
    static const std::set<std::string> names = [] {
        std::set<std::string> all;
        for (const Rule& rule : kRules)
            all.insert(rule.name);
        return all;
    }();
    return names;
}

bool IsValuedSignalOption(const std::string& name)
{
    for (const Rule& rule : kRules)
        if (name == rule.name)
            return rule.accepts != nullptr;
    return false;
}

std::set<std::string> WithSignalOptions(std::set<std::string> names)
{
    names.insert(SignalOptionNames().begin(), SignalOptionNames().end());
    return names;
}

bool ParseSignalOptions(const std::map<std::string, std::string>& given, SignalOptions& options, std::string& error)
{
    for (const Rule& rule : kRules) {
        const auto found = given.find(rule.name);
        if (found == given.end())
            continue;
        if (!rule.read(found->second, options)) {
            error = std::string("bad value for ") + rule.name + ": " + found->second + " (" + rule.accepts + ")";
            return false;
        }
        if (rule.turnsOn == TurnsOn::Equalizer)
            options.eqEnabled = true;
        if (rule.turnsOn == TurnsOn::Normalizer)
            options.norm.enabled = true;
        if (options.firstGiven.empty())
            options.firstGiven = rule.name;
        if (rule.digitalOnly && options.firstDigitalOnly.empty())
            options.firstDigitalOnly = rule.name;
    }
    if (given.count("--speed") && given.count("--speed-ratio")) {
        error = "give --speed or --speed-ratio, not both";
        return false;
    }
    if (options.speed != kSpeedRandom) {
        for (const char* name : {"--speed-range", "--speed-interval"})
            if (given.count(name)) {
                error = std::string(name) + " needs --speed 255 (random)";
                return false;
            }
    }
    return true;
}

std::string SignalOptionsUnfit(const SignalOptions& options, PlayModes mode)
{
    if (mode == pmDigital || options.firstGiven.empty())
        return {};
    if (!options.firstDigitalOnly.empty())
        return options.firstDigitalOnly + " works only with --mode digital";
    // The analog path has volume and stereo mode of its own; the CD-audio device has neither.
    if (mode == pmMci)
        return options.firstGiven + " works only with --mode digital or analog";
    return {};
}

bool Apply(TKsCdPlayer& player, int driveIndex, const SignalOptions& options, std::string& error)
{
    const auto refused = [&](const std::string& what) {
        error = "the player refused " + what;
        return false;
    };
    // The engine de-emphasises a track only when this is set and the track is flagged.
    player.DeEmphasize = options.deEmphasis;
    if (!player.SetVolume(options.volumeLeft, options.volumeRight))
        return refused("--volume");
    player.SetStereoMode(options.stereo);
    if (player.GetStereoMode() != options.stereo)
        return refused("--stereo");

    if (options.eqEnabled) {
        for (int band = 0; band < TEqualizer::kBands; ++band) {
            const auto gain = static_cast<float>(std::pow(10.0, options.eqGainsDb[band] / 20.0));
            player.SetEqParams(band, gain, TEqualizer::kDefaultQ, TEqualizer::kDefaultFreqs[band]);
        }
        player.SetEqLevel(static_cast<float>(std::pow(10.0, options.eqLevelDb / 20.0)));
        player.SetEqBalance(options.eqBalance);
        player.SetEqEnabled(true);
        if (!player.GetEquEnabled())
            return refused("the equalizer options");
    }

    if (options.speedRangeSet) {
        player.SetMinSpeed(options.speedMin);
        player.SetMaxSpeed(options.speedMax);
    }
    if (options.speedInterval > 0)
        player.SetSpeedChangeInterval(options.speedInterval);
    if (options.speed == kSpeedFree) {
        if (!player.SetSpeedEx(options.speedRatio))
            return refused("--speed-ratio");
        player.SetSpeed(kSpeedFree); // leaves the fixed steps for the ratio just set
    } else if (options.speed != 0) {
        player.SetSpeed(options.speed);
        if (player.GetSpeed() != options.speed)
            return refused("--speed");
    }
    player.SetReverse(options.reverse);
    if (player.GetReverse() != options.reverse)
        return refused("--reverse");

    if (options.norm.enabled) {
        const TNormParams& n = options.norm;
        player.SetUseNormalizer(driveIndex, true);
        player.SetNormParams(true, n.blockSizeMilli, n.avgVolume, n.compRatio1, n.compRatio2, n.maxComp, n.gain,
                             n.avgVolFromPeak, n.avgVolFromVal);
    }
    return true;
}

} // namespace vantrel::cli
