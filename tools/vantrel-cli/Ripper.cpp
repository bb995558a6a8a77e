#include "Ripper.h"

#include <chrono>
#include <cstdio>

#include "drive/KsCdCommands.h"
#include "drive/TrackInfo.h"
#include "engine/AnalogCdPlayer.h"
#include "engine/CdAudio.h"
#include "engine/DigitalEngine.h"
#include "engine/KsCdPlayer.h"
#include "engine/ScsiDriveServices.h"
#include "output/WaveOut.h"

namespace vantrel::cli {

namespace {

constexpr auto kStallLimit = std::chrono::seconds(60);  // no position for this long: give up

std::string DigitalError(TKsCdPlayer& player)
{
    auto* digital = dynamic_cast<TDigitalEngine*>(player.GetEngines().digital.get());
    return digital ? digital->Player().GetErrorText() : std::string();
}

std::string TrackTitle(int number)
{
    char title[16];
    std::snprintf(title, sizeof title, "Track %.2d", number);
    return title;
}

}  // namespace

std::vector<SoundDevice> SoundDevices()
{
    std::vector<SoundDevice> devices;
    TWaveOut enumerator;
    const int count = enumerator.GetNumDevs();
    for (int i = 0; i < count; ++i) {
        enumerator.SetDevice(i);
        devices.push_back({i, enumerator.GetDevName(i), enumerator.DevicePcm()});
    }
    return devices;
}

std::unique_ptr<TKsCdPlayer> MakePlayer(DriveSession& session)
{
    TDriveSystem& system = session.System();
    TKsCdPlayer::Engines engines;
    engines.drives = std::make_unique<TScsiDriveList>(system);
    engines.commands = std::make_unique<TScsiDriveCommands>(system);
    engines.cdAudio = std::make_unique<TCdAudio>(system);
    engines.analog = std::make_unique<TKsAnalogCdPlayer>(system);
    engines.digital = std::make_unique<TDigitalEngine>(system);
    auto player = std::make_unique<TKsCdPlayer>(std::move(engines));
    player->GetCdDrives();
    return player;
}

bool RipTracks(DriveSession& session, const TKsCdRom& drive, const RipOptions& options,
               std::vector<RipTrackResult>& results, std::string& error, const RipProgress& progress,
               const std::atomic<bool>* stop)
{
    TCdToc toc{};
    if (!ReadTocNormal(session.TransportFor(drive), drive, toc)) {
        error = "cannot read the table of contents of " + drive.DriveLetter;
        return false;
    }
    std::vector<int> wanted;
    for (int i = 0; i < TocTrackCount(toc); ++i)
        if (!toc.tracks[i].dataTrack && (options.track == 0 || options.track == toc.tracks[i].trackNumber))
            wanted.push_back(i);
    if (wanted.empty()) {
        error = options.track ? "no audio track " + std::to_string(options.track) : "no audio tracks";
        return false;
    }

    CdgRip cdgRip;  // before the player, whose OnCdgRead refers to it
    const std::unique_ptr<TKsCdPlayer> owned = MakePlayer(session);
    TKsCdPlayer& player = *owned;
    const int index = player.GetDriveIndex(drive.DriveLetter);
    const PlayModes mode = options.outFolder.empty() ? options.mode : pmDigital;
    player.SetPlayMode(index, mode);
    if (player.GetPlayMode(index) != mode) {
        error = drive.DriveLetter + " cannot be played that way";
        return false;
    }
    if (mode == pmMci && !player.Open(index)) {
        error = "cannot open the CD-audio device of " + drive.DriveLetter;
        return false;
    }
    player.SetRipMethod(index, options.method);
    player.SetReadAtOnce(index, static_cast<std::uint8_t>(options.readAtOnce));
    player.SetOverlaps(index, static_cast<std::uint8_t>(options.overlaps));
    player.SetCompares(index, static_cast<std::uint8_t>(options.compares));
    if (player.GetReadAtOnce(index) != options.readAtOnce || player.GetOverlaps(index) != options.overlaps ||
        player.GetCompares(index) != options.compares) {
        error = "overlaps must be below read-at-once and compares not above overlaps";
        return false;
    }
    player.SetOffsetSamples(index, options.offsetSamples);
    player.SetGain(index, 100);
    player.DiskWriterEnable = !options.outFolder.empty();
    player.DiskWriterRootDir = options.outFolder;
    player.SetOutputMode(0);
    player.SetWaveDevIndex(static_cast<std::uint32_t>(options.soundDevice));
    if (!Apply(player, index, options.signal, error))
        return false;

    enum class Outcome { Running, Ended, Failed };
    Outcome outcome = Outcome::Running;
    player.OnPlayEnd = [&](TKsCdPlayer&) { outcome = Outcome::Ended; };
    player.OnPlayError = [&](TKsCdPlayer&) { outcome = Outcome::Failed; };
    const bool cdg = options.cdg && player.DiskWriterEnable;
    if (cdg) {
        if (!cdgRip.Setup(player, index, session.TransportFor(drive), drive, options.subCode, error))
            return false;
        player.OnCdgRead = [&](TKsCdPlayer&, TCdgBuffer& buffer) { cdgRip.Take(buffer); };
    }
    player.Loaded();

    for (const int i : wanted) {
        const TCdTrackEntry& entry = toc.tracks[i];
        TTrackInfo track;
        track.DriveLetter = drive.DriveLetter;
        track.TrackNumber = entry.trackNumber;
        track.Title = TrackTitle(entry.trackNumber);
        track.StartAddress = entry.start;
        track.EndAddress = entry.end;
        track.PreEmphasis = entry.preEmphasis;
        player.SetCurrentTrack(&track);
        if (cdg)
            cdgRip.BeginTrack(AddressToFrames(entry.start), AddressToFrames(entry.end), options.offsetSamples);

        RipTrackResult result;
        result.track = entry.trackNumber;
        outcome = Outcome::Running;
        if (!player.Play()) {
            const std::string why = mode == pmDigital ? DigitalError(player) : std::string();
            result.error = "track " + std::to_string(entry.trackNumber) + " could not start" +
                           (why.empty() ? std::string() : ": " + why);
            results.push_back(result);
            player.Window().Pump();  // the error notice of the failed start
            continue;
        }
        if (player.DiskWriterEnable)
            result.file = player.DiskWriterFile();
        const std::int64_t total = (AddressToFrames(entry.end) - AddressToFrames(entry.start)) * 1000 / 75;
        std::int32_t lastTime = -1;
        auto lastMove = std::chrono::steady_clock::now();
        while (outcome == Outcome::Running) {
            player.Window().PumpFor(std::chrono::milliseconds(100));
            if (stop && stop->load()) {
                player.Stop();
                result.stopped = true;
                break;
            }
            const std::int32_t time = player.GetTime();
            if (time != lastTime) {
                lastTime = time;
                lastMove = std::chrono::steady_clock::now();
                if (progress)
                    progress(entry.trackNumber, time, total);
            } else if (std::chrono::steady_clock::now() - lastMove > kStallLimit) {
                player.Stop();
                result.error = "track " + std::to_string(entry.trackNumber) + ": the drive stopped answering";
                break;
            }
        }
        if (outcome == Outcome::Ended) {
            result.ok = true;
            if (progress)
                progress(entry.trackNumber, total, total);
        } else if (result.error.empty() && !result.stopped) {
            const std::string why = mode == pmDigital ? DigitalError(player) : std::string();
            result.error = "track " + std::to_string(entry.trackNumber) + ": " +
                           (why.empty() ? std::string("read error") : why) +
                           (result.file.empty() ? std::string() : ", " + result.file + " is incomplete");
        }
        if (cdg && result.ok &&
            !cdgRip.FinishTrack(player.CdgBuffer, result.file, result.cdgFile, result.cdg, result.error)) {
            result.ok = false;
            result.error = "track " + std::to_string(entry.trackNumber) + ": " + result.error;
        }
        results.push_back(result);
        player.Delete();
        if (result.stopped)
            break;
    }
    player.CmStop();
    return true;
}

}  // namespace vantrel::cli
