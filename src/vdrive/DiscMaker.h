// Makes synthetic disc images for tests and demos from a short text description:
// tracks with lengths, pre-gaps, index points and flags, audio hidden before track 1,
// a data track in a second session, CD-Text, CD+G graphics, and audio that reveals faults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::vdrive {

// Audio whose every stereo sample names its own absolute position on the disc, so a
// skipped, repeated or shifted sample shows at once: sample n (counted from 00:00:00)
// has left = the low 16 bits of n and right = the next 15 bits with bit 15 set.
void CounterSample(std::int64_t n, std::int16_t& left, std::int16_t& right);
// The position a counter sample names, or -1 for a sample that is not one.
std::int64_t CounterPosition(std::int16_t left, std::int16_t right);

struct TrackPlan {
    enum class Audio { Counter, Tone, Silence };
    std::int64_t length = 75 * 10;  // frames from index 1 to the end
    std::int64_t pregap = 0;        // frames of index 0 before index 1 (silence)
    std::vector<std::int64_t> indexes;  // index 2, 3, ... as frames after index 1
    Audio audio = Audio::Counter;
    double toneHz = 1000.0;
    bool preEmphasis = false;
    bool copyPermitted = false;
    bool data = false;  // a MODE1/2352 data track
    int session = 1;
    bool cdg = false;  // CD+G graphics in R-W
    std::string title, performer, songwriter;
};

struct DiscPlan {
    enum class Format { Cue, Ccd };
    enum class Sub { None, Raw, Channels };
    Format format = Format::Cue;
    Sub sub = Sub::None;
    std::string name = "disc";
    std::int64_t hidden = 0;  // frames of audio in track 1's pre-gap (a hidden track)
    std::string title, performer, songwriter;
    std::vector<TrackPlan> tracks;
    // Symbols to spoil after parity: (pack number counted over the disc, symbol 0..23).
    std::vector<std::pair<std::int64_t, int>> cdgErrors;
};

// The description, one statement per line ('#' starts a comment):
//   disc [format=cue|ccd] [sub=none|raw|channels] [name=N] [hidden=MM:SS:FF]
//        [title="..."] [performer="..."] [songwriter="..."] [cdg-error=PACK:SYMBOL ...]
//   track length=MM:SS:FF [pregap=MM:SS:FF] [index=MM:SS:FF ...] [audio=counter|silence|tone:HZ]
//         [pre=1] [dcp=1] [data=1] [session=N] [cdg=1] [title=...] [performer=...] [songwriter=...]
bool ParseDiscPlan(std::string_view text, DiscPlan& plan, std::string& error);

// Writes the image into folder; imagePath is the .cue or .ccd to load.
bool MakeDisc(const DiscPlan& plan, const std::string& folder, std::string& imagePath, std::string& error);

}  // namespace vantrel::vdrive
