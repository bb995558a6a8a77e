#include "Commands.h"

#include <cstdio>

#include <unistd.h>

#include <atomic>
#include <csignal>

#include <algorithm>

#include "DriveSession.h"
#include "Ripper.h"
#include "drive/CdToc.h"
#include "drive/KsCdCommands.h"
#include "support/KsFastIniReader.h"
#include "support/TextUtils.h"

namespace vantrel::cli {

namespace {

// Options that take a value; every other --name is a flag.
const std::set<std::string> kValued = {"--image", "--drive-option", "--drive", "--out",     "--track",
                                       "--method", "--read-at-once", "--overlaps", "--compares", "--offset",
                                       "--output", "--device", "--pregaps", "--mode", "--subcode"};

std::atomic<bool> gInterrupted{false};

std::string Clock(std::int64_t ms)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(ms / 60000), static_cast<int>(ms / 1000 % 60));
    return text;
}

int Fail(const char* command, const std::string& message)
{
    std::fprintf(stderr, "vantrel-cli %s: %s\n", command, message.c_str());
    return 1;
}

std::string Msf(std::int64_t frames)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(frames / 4500),
                  static_cast<int>(frames / 75 % 60), static_cast<int>(frames % 75));
    return text;
}

// --drive or --image, opened; the chosen drive's record.
const TKsCdRom* OpenDrive(const char* command, const Arguments& a, DriveSession& session, int& status)
{
    std::string error;
    status = 0;
    if (a.Has("--drive") == a.Has("--image")) {
        status = Fail(command, "give --drive L or --image FILE");
        return nullptr;
    }
    if (!session.Open(a.Get("--image"), a.Get("--drive-option"), error)) {
        status = Fail(command, error);
        return nullptr;
    }
    const std::string letter = a.Has("--image") ? session.ImageLetter() : a.Get("--drive");
    const TKsCdRom* drive = session.FindDrive(letter, error);
    if (!drive)
        status = Fail(command, error);
    return drive;
}

}  // namespace

bool Arguments::Parse(int argc, char** argv, std::string& error)
{
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) != 0) {
            words.push_back(word);
            continue;
        }
        if (kValued.count(word) || IsValuedSignalOption(word)) {
            if (i + 1 >= argc) {
                error = word + " needs a value";
                return false;
            }
            options[word] = argv[++i];
        } else {
            options[word] = "";
        }
    }
    return true;
}

std::string Arguments::Get(const std::string& name) const
{
    const auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
}

bool Arguments::Only(const std::set<std::string>& allowed, std::string& error) const
{
    for (const auto& [name, value] : options)
        if (!allowed.count(name) && name != "--help") {
            error = "unknown option " + name;
            return false;
        }
    return true;
}

int Drives(const Arguments& a)
{
    std::string error;
    if (a.Has("--help")) {
        std::puts("usage: vantrel-cli drives [--image FILE [--drive-option TEXT]]\n"
                  "one line per drive: letter, vendor, product and the ways to reach it");
        return 0;
    }
    if (!a.Only({"--image", "--drive-option"}, error) || !a.words.empty())
        return Fail("drives", error.empty() ? "unexpected argument " + a.words.front() : error);
    DriveSession session;
    if (!session.Open(a.Get("--image"), a.Get("--drive-option"), error))
        return Fail("drives", error);
    TKsCdRoms& roms = session.System().Roms();
    if (roms.GetCount() == 0)
        std::puts("no CD drives");
    for (int i = 0; i < roms.GetCount(); ++i) {
        const TKsCdRom& d = *roms.GetDrive(i);
        std::string offers;
        for (const auto& [has, name] : {std::pair{roms.GetMciAvail(i), "MCI"}, std::pair{roms.GetAspiAvail(i), "ASPI"},
                                        std::pair{roms.GetSptiAvail(i), "SPTI"}})
            if (has)
                offers += offers.empty() ? name : std::string("/") + name;
        std::printf("%-3s %-8s %-16s %s\n", d.DriveLetter.c_str(), d.Vendor().c_str(), d.Product().c_str(),
                    offers.c_str());
    }
    return 0;
}

namespace {

void PrintToc(const TCdToc& toc, const TCddbParams& params)
{
    const int count = TocTrackCount(toc);
    for (int i = 0; i < count; ++i) {
        const TCdTrackEntry& t = toc.tracks[i];
        const std::int64_t start = AddressToFrames(t.start);
        const std::int64_t length = AddressToFrames(t.end) - start;
        std::string flags = t.dataTrack ? "data" : "audio";
        if (t.preEmphasis)
            flags += " pre";
        if (t.copyPermitted)
            flags += " dcp";
        if (t.fourChannel)
            flags += " 4ch";
        std::printf("%02d  %s  %s  %s\n", t.trackNumber, Msf(start).c_str(), Msf(length).c_str(), flags.c_str());
    }
    std::printf("cddb-id %s\ncdplayer-id %s\nseconds %u\nquery %s\n", CddbIdText(params.CddbId).c_str(),
                CdPlayerIdText(params.CdPlayerId).c_str(), params.TotalSeconds, params.CddbQuery.c_str());
}

// The CD-Text packs as lines "cdtext TYPE TRACK TEXT", single-byte texts of the first block.
void PrintCdText(const std::uint8_t* bytes, std::size_t length)
{
    static const std::map<int, const char*> kTypes = {{0x80, "title"}, {0x81, "performer"}, {0x82, "songwriter"},
                                                      {0x83, "composer"}, {0x84, "arranger"}, {0x85, "message"}};
    std::map<int, std::pair<int, std::string>> texts;  // type → (first track, joined text)
    for (std::size_t at = 4; at + 18 <= length; at += 18) {
        const std::uint8_t* pack = bytes + at;
        if (!kTypes.count(pack[0]) || (pack[3] & 0x70) != 0)
            continue;
        auto& [first, text] = texts.try_emplace(pack[0], pack[1], std::string()).first->second;
        text.append(reinterpret_cast<const char*>(pack + 4), 12);
    }
    for (const auto& [type, entry] : texts) {
        int track = entry.first;
        std::size_t from = 0;
        for (std::size_t nul; (nul = entry.second.find('\0', from)) != std::string::npos; from = nul + 1, ++track)
            if (nul > from)
                std::printf("cdtext %s %d %s\n", kTypes.at(type), track, entry.second.substr(from, nul - from).c_str());
    }
}

}  // namespace

int Toc(const Arguments& a)
{
    std::string error;
    if (a.Has("--help")) {
        std::puts("usage: vantrel-cli toc (--drive L | --image FILE [--drive-option TEXT])\n"
                  "       [--pregaps auto|readcdda|readcd|subchannel] [--manual] [--cdtext]\n"
                  "one line per track (number, start, length, flags), then the disc identifiers;\n"
                  "--pregaps finds each track's index 0, --manual builds the table from the sub-channel,\n"
                  "--cdtext prints the disc's CD-Text");
        return 0;
    }
    if (!a.Only({"--image", "--drive-option", "--drive", "--pregaps", "--manual", "--cdtext"}, error))
        return Fail("toc", error);
    static const std::map<std::string, int> kMethods = {{"auto", 0}, {"readcdda", 1}, {"readcd", 2}, {"subchannel", 3}};
    if (a.Has("--pregaps") && !kMethods.count(a.Get("--pregaps")))
        return Fail("toc", "unknown pre-gap method " + a.Get("--pregaps") + " (auto, readcdda, readcd, subchannel)");
    DriveSession session;
    int status = 0;
    const TKsCdRom* drive = OpenDrive("toc", a, session, status);
    if (!drive)
        return status;
    const std::unique_ptr<TKsCdPlayer> player = MakePlayer(session);
    const int index = player->GetDriveIndex(drive->DriveLetter);
    player->SetPlayMode(index, pmDigital);  // the drive's own commands, not the CD-audio device
    if (a.Has("--pregaps")) {
        player->SetPreGapMode(index, 2);  // starts stay at index 1; index 0 is recorded
        player->SetPreGapMethod(index, kMethods.at(a.Get("--pregaps")));
    }
    TCdToc toc{};
    TCddbParams params;
    const bool read = a.Has("--manual") ? player->GetTocManual(drive->DriveLetter, toc, params)
                                        : player->GetDiscInfo(drive->DriveLetter, toc, params);
    if (!read || TocTrackCount(toc) == 0)
        return Fail("toc", "cannot read the table of contents of " + drive->DriveLetter);
    if (a.Has("--pregaps") && player->GetLastAnalysisStatus() != 3)
        return Fail("toc", "the pre-gap analysis of " + drive->DriveLetter + " failed");
    PrintToc(toc, params);
    if (a.Has("--pregaps"))
        for (int i = 0; i < TocTrackCount(toc); ++i) {
            const TCdTrackEntry& t = toc.tracks[i];
            const bool gap = AddressToFrames(t.preGapStart) < AddressToFrames(t.start);
            std::printf("track %d index0 %s index1 %s\n", t.trackNumber,
                        gap ? Msf(AddressToFrames(t.preGapStart)).c_str() : "-", Msf(AddressToFrames(t.start)).c_str());
        }
    if (a.Has("--cdtext")) {
        std::vector<std::uint8_t> buffer(36868);
        std::size_t length = 0;
        if (player->ReadCdText(drive->DriveLetter, buffer.data(), buffer.size(), length))
            PrintCdText(buffer.data(), length);
        else
            std::puts("cdtext none");
    }
    return 0;
}

int Rip(const Arguments& a)
{
    if (a.Has("--help")) {
        std::puts("usage: vantrel-cli rip (--drive L | --image FILE [--drive-option TEXT]) --out DIR\n"
                  "       [--track N | --all] [--method mmc|mmc-msf|sony|sony-msf|toshiba]\n"
                  "       [--cdg [--subcode rw|raw]]\n"
                  "       [--read-at-once N --overlaps N --compares N] [--offset SAMPLES] [SIGNAL OPTIONS]");
        std::fputs(kSignalOptionsUsage, stdout);
        return 0;
    }
    std::string error;
    if (!a.Only(WithSignalOptions({"--image", "--drive-option", "--drive", "--out", "--track", "--all", "--method",
                                   "--read-at-once", "--overlaps", "--compares", "--offset", "--cdg",
                                   "--subcode"}),
                error))
        return Fail("rip", error);
    if (!a.Has("--out"))
        return Fail("rip", "give --out DIR");
    if (a.Has("--track") && a.Has("--all"))
        return Fail("rip", "give --track N or --all, not both");
    RipOptions options;
    options.outFolder = a.Get("--out");
    if (!ParseSignalOptions(a.options, options.signal, error))
        return Fail("rip", error);
    static const std::map<std::string, RipMethods> kMethods = {
        {"mmc", RipMMC}, {"mmc-msf", RipMMCMSF}, {"sony", RipSony}, {"sony-msf", RipSonyMSF}, {"toshiba", RipToshiba}};
    if (a.Has("--method")) {
        const auto found = kMethods.find(a.Get("--method"));
        if (found == kMethods.end())
            return Fail("rip", "unknown method " + a.Get("--method") + " (mmc, mmc-msf, sony, sony-msf, toshiba)");
        options.method = found->second;
    }
    // --cdg: a .cdg file beside each WAV; --subcode: how the drive reads the packs.
    static const std::map<std::string, SubCodeModes> kSubCodes = {{"rw", SubCodeRW}, {"raw", SubCodeRAW}};
    if (a.Has("--subcode")) {
        const auto found = kSubCodes.find(a.Get("--subcode"));
        if (found == kSubCodes.end())
            return Fail("rip", "unknown sub-code mode " + a.Get("--subcode") + " (rw, raw)");
        if (!a.Has("--cdg"))
            return Fail("rip", "--subcode goes with --cdg");
        options.subCode = found->second;
    }
    options.cdg = a.Has("--cdg");
    // The packs keep to the disc's sectors; audio played faster, slower or backwards would
    // no longer line up with them.
    if (options.cdg && (options.signal.speed != 0 || options.signal.reverse))
        return Fail("rip", "--cdg needs the audio at normal speed and forwards (no --speed or --reverse)");
    const std::pair<const char*, int*> numbers[] = {{"--track", &options.track},
                                                    {"--read-at-once", &options.readAtOnce},
                                                    {"--overlaps", &options.overlaps},
                                                    {"--compares", &options.compares},
                                                    {"--offset", &options.offsetSamples}};
    for (const auto& [name, target] : numbers) {
        if (!a.Has(name))
            continue;
        const auto value = ParseDecimal(a.Get(name));
        const bool offset = std::string(name) == "--offset";
        if (!value || *value < (offset ? -100000 : 0) || *value > (offset ? 100000 : 99))
            return Fail("rip", std::string("bad value for ") + name + ": " + a.Get(name));
        *target = static_cast<int>(*value);
    }
    if (a.Has("--track") && options.track < 1)
        return Fail("rip", "tracks are numbered from 1");

    DriveSession session;
    int status = 0;
    const TKsCdRom* drive = OpenDrive("rip", a, session, status);
    if (!drive)
        return status;
    std::vector<RipTrackResult> results;
    const bool terminal = ::isatty(STDOUT_FILENO);
    const bool ripped = RipTracks(session, *drive, options, results, error, [&](int track, std::int64_t done,
                                                                                std::int64_t total) {
        const int percent = total > 0 ? static_cast<int>(std::min<std::int64_t>(100, done * 100 / total)) : 100;
        if (terminal) {
            std::printf("\rtrack %02d  %3d%%", track, percent);
            std::fflush(stdout);
        }
    });
    if (!ripped)
        return Fail("rip", error);
    int good = 0;
    for (const RipTrackResult& r : results) {
        if (terminal)
            std::printf("\r");
        if (r.ok) {
            ++good;
            std::printf("track %02d  done  %s\n", r.track, r.file.c_str());
            if (!r.cdgFile.empty())
                std::printf("track %02d  cdg   %s%s\n", r.track, r.cdgFile.c_str(), CdgReportNote(r.cdg).c_str());
        } else {
            std::printf("track %02d  FAILED\n", r.track);
        }
    }
    std::printf("%d of %zu tracks ripped to %s\n", good, results.size(), options.outFolder.c_str());
    if (options.cdg) {
        int adjusted = 0, tails = 0;
        for (const RipTrackResult& r : results)
            if (!r.cdgFile.empty()) {
                adjusted += r.cdg.Padded() > 0 || r.cdg.Cut() > 0;
                tails += r.cdg.tailLost;
            }
        std::printf("CD+G files: %d padded or cut to length, %d without their last 7 packs\n", adjusted, tails);
    }
    for (const RipTrackResult& r : results)
        if (!r.ok)
            return Fail("rip", r.error);
    return 0;
}

int Play(const Arguments& a)
{
    if (a.Has("--help")) {
        std::puts("usage: vantrel-cli play (--drive L | --image FILE [--drive-option TEXT]) [--track N]\n"
                  "       [--mode mci|analog|digital] [--output alsa] [--device NAME] [SIGNAL OPTIONS]\n"
                  "plays the track (or the whole disc in list order) through the player's digital path;\n"
                  "NAME is a sound device as ALSA names it (default, pulse, hw:0,0, ...); Ctrl-C stops");
        std::fputs(kSignalOptionsUsage, stdout);
        return 0;
    }
    std::string error;
    if (!a.Only(WithSignalOptions({"--image", "--drive-option", "--drive", "--track", "--output", "--device", "--mode"}),
                error))
        return Fail("play", error);
    static const std::map<std::string, PlayModes> kModes = {{"mci", pmMci}, {"analog", pmAnalog}, {"digital", pmDigital}};
    if (a.Has("--output") && a.Get("--output") != "alsa")
        return Fail("play", "unknown output " + a.Get("--output") + " (alsa)");
    RipOptions options;
    if (a.Has("--mode")) {
        const auto found = kModes.find(a.Get("--mode"));
        if (found == kModes.end())
            return Fail("play", "unknown mode " + a.Get("--mode") + " (mci, analog, digital)");
        options.mode = found->second;
    }
    if (!ParseSignalOptions(a.options, options.signal, error))
        return Fail("play", error);
    if (const std::string unfit = SignalOptionsUnfit(options.signal, options.mode); !unfit.empty())
        return Fail("play", unfit);
    if (a.Has("--track")) {
        const auto track = ParseDecimal(a.Get("--track"));
        if (!track || *track < 1 || *track > 99)
            return Fail("play", "bad value for --track: " + a.Get("--track"));
        options.track = static_cast<int>(*track);
    }
    if (a.Has("--device")) {
        const std::string wanted = a.Get("--device");
        options.soundDevice = -1;
        for (const SoundDevice& d : SoundDevices())
            if (d.pcm == wanted || d.name == wanted)
                options.soundDevice = d.index;
        if (options.soundDevice < 0)
            return Fail("play", "no sound device " + wanted);
    }
    DriveSession session;
    int status = 0;
    const TKsCdRom* drive = OpenDrive("play", a, session, status);
    if (!drive)
        return status;
    std::signal(SIGINT, [](int) { gInterrupted = true; });
    std::vector<RipTrackResult> results;
    const bool played = RipTracks(
        session, *drive, options, results, error,
        [](int track, std::int64_t done, std::int64_t total) {
            std::printf("\rtrack %02d  %s / %s", track, Clock(done).c_str(), Clock(total).c_str());
            std::fflush(stdout);
        },
        &gInterrupted);
    std::signal(SIGINT, SIG_DFL);
    std::printf("\n");
    if (!played)
        return Fail("play", error);
    for (const RipTrackResult& r : results) {
        if (r.stopped) {
            std::printf("stopped\n");
            return 0;
        }
        if (!r.ok)
            return Fail("play", r.error + (a.Has("--device") ? " (device " + a.Get("--device") + ")" : ""));
    }
    return 0;
}

int IniGet(const Arguments& a)
{
    if (a.Has("--help") || a.words.size() != 3) {
        std::puts("usage: vantrel-cli ini-get FILE SECTION KEY");
        return a.Has("--help") ? 0 : 2;
    }
    TKsFastIniReader reader(a.words[0]);
    if (!reader.OpenSection(a.words[1]))
        return Fail("ini-get", "no section [" + a.words[1] + "] in " + a.words[0]);
    static const char kAbsent[] = "\x01" "absent";
    const std::string value = reader.ReadString(a.words[2], kAbsent);
    if (value == kAbsent)
        return Fail("ini-get", "no key " + a.words[2] + " in [" + a.words[1] + "]");
    std::puts(value.c_str());
    return 0;
}

}  // namespace vantrel::cli
