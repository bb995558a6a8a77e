// Plays tracks the way the player does it: the player component's digital path over the
// drive system of a session, one track after another, waiting for each play's end on the
// component's own window. Ripping is such a play with the disk writer on.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CdgFile.h"
#include "DriveSession.h"
#include "SignalOptions.h"
#include "drive/ReadModes.h"
#include "engine/KsCdPlayer.h"
#include "engine/PlayerTypes.h"

namespace vantrel::cli {

// The player component over the session's drive system with every engine: the drive
// list and commands, the CD-audio devices, the analog and the digital engine.
std::unique_ptr<TKsCdPlayer> MakePlayer(DriveSession& session);

struct RipOptions {
    std::string outFolder;  // empty: play through the sound device instead of writing files
    int soundDevice = 0;    // the sound device's index when playing
    int track = 0;          // 0: every audio track
    RipMethods method = RipMMC;
    int readAtOnce = 25, overlaps = 5, compares = 2;
    int offsetSamples = 0;
    PlayModes mode = pmDigital;  // how to play when not ripping
    SignalOptions signal;        // de-emphasis, volume, equalizer, speed, ...
    bool cdg = false;            // ripping: also each track's CD+G packs, beside its WAV
    SubCodeModes subCode = SubCodeNo;  // with cdg: SubCodeRW or SubCodeRAW; SubCodeNo picks
};

struct RipTrackResult {
    int track = 0;
    std::string file;  // the WAV file written, when ripping
    std::string cdgFile;  // the .cdg file written, with RipOptions::cdg
    CdgTrackReport cdg;
    bool ok = false;
    bool stopped = false;  // ended by the stop flag
    std::string error;
};

// Called while a track plays: track number, milliseconds done, milliseconds in all.
using RipProgress = std::function<void(int track, std::int64_t done, std::int64_t total)>;

// False with a message when nothing could be played at all (no table of contents, no
// such track, settings the drive refuses); per-track failures are in the results. A set
// stop flag stops the track playing and ends the run.
bool RipTracks(DriveSession& session, const TKsCdRom& drive, const RipOptions& options,
               std::vector<RipTrackResult>& results, std::string& error, const RipProgress& progress = {},
               const std::atomic<bool>* stop = nullptr);

// The sound devices: index, name, ALSA name.
struct SoundDevice {
    int index;
    std::string name, pcm;
};
std::vector<SoundDevice> SoundDevices();

}  // namespace vantrel::cli
