// The signal-chain options of rip and play (de-emphasis, volume, stereo mode, equalizer,
// speed, reverse play and the normalizer): read from the command line into one value, then
// handed to the player component before it plays. What each stage does is the digital
// engine's business; this only checks the values and sets the component up.
#pragma once

#include <array>
#include <map>
#include <set>
#include <string>

#include "drive/ReadModes.h"
#include "dsp/Equalizer.h"
#include "dsp/NormParams.h"
#include "engine/PlayerTypes.h"

namespace vantrel {
class TKsCdPlayer;
}

namespace vantrel::cli {

struct SignalOptions {
    bool deEmphasis = true;              // of tracks whose pre-emphasis flag is set
    int volumeLeft = 0, volumeRight = 0; // volume steps: 0 full, 15 silent
    StereoModes stereo = smStereo;

    bool eqEnabled = false; // any equalizer option turns it on
    std::array<double, TEqualizer::kBands> eqGainsDb{};
    double eqLevelDb = 0.0;
    int eqBalance = 0; // -100 left only .. 100 right only

    int speed = 0; // a step -2..10, kSpeedRandom, or kSpeedFree with speedRatio
    double speedRatio = 1.0;
    bool speedRangeSet = false;
    int speedMin = -2, speedMax = 4; // random speed's steps, when speedRangeSet
    int speedInterval = 0;           // seconds between random steps; 0 leaves the component's
    bool reverse = false;

    TNormParams norm; // enabled by --normalize or any --norm-* option

    // The first option given that only the digital path carries out, and the first one
    // given at all ("" when none): play refuses them on paths that would ignore them.
    std::string firstDigitalOnly, firstGiven;
};

// The options as rip --help and play --help list them.
extern const char kSignalOptionsUsage[];

// Every signal option's name, and those of them that take a value.
const std::set<std::string>& SignalOptionNames();
bool IsValuedSignalOption(const std::string& name);
// names plus the signal options, for a command's list of allowed options.
std::set<std::string> WithSignalOptions(std::set<std::string> names);

// Reads the signal options among given (option name → value, flags with ""), leaving the
// others alone. False with a one-line message naming the option at the first bad value.
bool ParseSignalOptions(const std::map<std::string, std::string>& given, SignalOptions& options, std::string& error);

// "" when a play in that mode carries out every option given; else why not.
std::string SignalOptionsUnfit(const SignalOptions& options, PlayModes mode);

// Sets the component up for drive driveIndex before it plays; false with a message when
// the component refuses a value.
bool Apply(TKsCdPlayer& player, int driveIndex, const SignalOptions& options, std::string& error);

} // namespace vantrel::cli
