// Rips tracks to WAV files the way the player does it: the player component's digital
// path with its disk writer, over the drive system of a session, one track after another,
// waiting for each play's end on the component's own window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "DriveSession.h"
#include "drive/ReadModes.h"

namespace vantrel::cli {

struct RipOptions {
    std::string outFolder;
    int track = 0;  // 0: every audio track
    RipMethods method = RipMMC;
    int readAtOnce = 25, overlaps = 5, compares = 2;
    int offsetSamples = 0;
};

struct RipTrackResult {
    int track = 0;
    std::string file;
    bool ok = false;
    std::string error;
};

// Called while a track plays: track number, milliseconds done, milliseconds in all.
using RipProgress = std::function<void(int track, std::int64_t done, std::int64_t total)>;

// False with a message when nothing could be ripped at all (no table of contents, no
// such track, settings the drive refuses); per-track failures are in the results.
bool RipTracks(DriveSession& session, const TKsCdRom& drive, const RipOptions& options,
               std::vector<RipTrackResult>& results, std::string& error, const RipProgress& progress = {});

}  // namespace vantrel::cli
