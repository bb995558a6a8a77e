#include "CdgFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "cdg/CdgPipeline.h"
#include "drive/KsCdCommands.h"
#include "drive/KsParagraphBoundaryBuffer.h"
#include "engine/KsCdPlayer.h"
#include "support/KsFastIniWriter.h"

namespace vantrel::cli {

namespace {

constexpr std::int64_t kSamplesPerSector = 588;
constexpr std::uint8_t kCdgDensity = 0x82;

// The read command of each method, for messages.
constexpr const char* kReadNames[] = {"READ CD", "READ CD MSF", "READ CDDA", "READ CDDA MSF", "READ(10)"};

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

} // namespace

std::string CdgReportNote(const CdgTrackReport& report)
{
    std::string note;
    const auto add = [&](const std::string& text) { note += (note.empty() ? "  (" : "; ") + text; };
    const std::string handed =
        "the play handed over " + std::to_string(report.delivered) + " of " + std::to_string(report.expected);
    if (report.Padded() > 0)
        add(std::to_string(report.Padded()) + " empty packs added, " + handed);
    if (report.Cut() > 0)
        add(std::to_string(report.Cut()) + " packs cut, " + handed);
    if (report.tailLost)
        add("the last 7 packs could not be read and are empty");
    return note.empty() ? note : note + ")";
}

bool MethodDeliversCdg(RipMethods method, SubCodeModes mode)
{
    if (mode != SubCodeRW && mode != SubCodeRAW)
        return false;
    const TReadFunction f = ChooseReadFunction(method, mode);
    if (f.subCode != mode) // not offered: the method reads plain audio instead
        return false;
    return mode == SubCodeRAW || f.method == RipMMC || f.method == RipMMCMSF;
}

CdgTrackReport LineUpCdgPacks(std::vector<std::uint8_t>& packs, std::int64_t playSectors, std::int64_t trackSectors,
                              const std::optional<CdgTail>& tail)
{
    CdgTrackReport report;
    report.delivered = static_cast<std::int64_t>(packs.size() / kCdgPackBytes);
    report.expected = playSectors * static_cast<std::int64_t>(kCdgPacksPerSector);
    const auto lag = static_cast<std::int64_t>(kCdgLagPacks);
    const std::int64_t drop = std::min(lag, report.delivered);
    packs.erase(packs.begin(), packs.begin() + drop * static_cast<std::ptrdiff_t>(kCdgPackBytes));
    // Where packs went missing or came twice cannot be told any more; only the length can be
    // put right, so that the tail at least sits where it belongs.
    const std::int64_t body = std::max<std::int64_t>(report.expected - lag, 0);
    packs.resize(static_cast<std::size_t>(body) * kCdgPackBytes, 0);
    report.tailLost = !tail;
    if (tail)
        packs.insert(packs.end(), tail->begin(), tail->end());
    else
        packs.resize(packs.size() + kCdgLagPacks * kCdgPackBytes, 0);
    // A play moved by an offset of part of a sector reads one sector more than the track has.
    packs.resize(static_cast<std::size_t>(trackSectors) * kCdgPacksPerSector * kCdgPackBytes, 0);
    return report;
}

bool WriteFileReplacing(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& error)
{
    errno = 0;
    if (ReplaceFileContents(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
        return true;
    const int code = errno;
    error = "cannot write " + path + (code != 0 ? std::string(": ") + std::strerror(code) : std::string());
    return false;
}

bool CdgRip::Setup(TKsCdPlayer& player, int index, IScsiTransport& transport, const TKsCdRom& drive,
                   SubCodeModes wanted, std::string& error)
{
    transport_ = &transport;
    drive_ = &drive;
    method_ = player.GetRipMethod(index);
    modeCmdType_ = player.GetModeCmdType(index);
    mode_ = wanted != SubCodeNo ? wanted : MethodDeliversCdg(method_, SubCodeRAW) ? SubCodeRAW : SubCodeRW;
    const std::string read = kReadNames[method_ <= RipToshiba ? method_ : RipMMC];
    if (!MethodDeliversCdg(method_, mode_)) {
        if (!MethodDeliversCdg(method_, SubCodeRAW))
            error = read + " brings no CD+G packs the player can use; rip CD+G with --method mmc, mmc-msf or toshiba";
        else
            error = read + " gives the sub-channel as it lies on the disc, not de-interleaved; use --subcode raw";
        return false;
    }
    // Bits of byte 5 of the capabilities page: 04 R-W readable, 08 R-W de-interleaved and
    // corrected by the drive. A drive without the page is given the benefit of the doubt.
    std::array<std::uint8_t, 8> page{};
    if (modeCmdType_ >= 0 && ReadCapabilitiesPage(transport, drive, modeCmdType_, page) && (page[0] & 0x3F) == 0x2A &&
        page[1] >= 4) {
        if (!(page[5] & 0x04)) {
            error = drive.DriveLetter + " cannot read the R-W sub-channel, so it cannot rip CD+G";
            return false;
        }
        if (mode_ == SubCodeRW && !(page[5] & 0x08)) {
            error = drive.DriveLetter + " does not de-interleave R-W itself; use --subcode raw";
            return false;
        }
    }
    player.CdgEnabled = true;
    player.RsEnabled = true;
    player.SetSubCodeMode(index, mode_);
    player.SetCdgSyncEnabled(index, true);
    return true;
}

void CdgRip::BeginTrack(std::int64_t startFrame, std::int64_t endFrame, std::int32_t offsetSamples)
{
    // As the digital player reads: from the sector that holds the first sample the offset
    // points at to the one that holds the last.
    firstFrame_ = FloorDiv(startFrame * kSamplesPerSector + offsetSamples, kSamplesPerSector);
    lastFrame_ = FloorDiv(endFrame * kSamplesPerSector + offsetSamples + kSamplesPerSector - 1, kSamplesPerSector);
    trackSectors_ = endFrame - startFrame;
    packs_.clear();
}

void CdgRip::Take(TCdgBuffer& buffer)
{
    std::unique_ptr<std::uint8_t[]> block;
    if (const std::size_t n = buffer.TakeAll(block); n > 0)
        packs_.insert(packs_.end(), block.get(), block.get() + n * kCdgPackBytes);
}

std::optional<CdgTail> CdgRip::ReadTail() const
{
    // The track's last 7 packs come out of the delay line while the first 7 packs after the
    // track go in: in the two sectors past its end, which the play does not read. Three
    // sectors before the end start the delay line and give 5 packs to check against the
    // play's last 5, so that a drive placing its sub-channel elsewhere than the play found
    // it is not believed. At the end of the disc the drive usually refuses the lead-out;
    // the tail is lost then.
    constexpr std::uint32_t kBefore = 3, kAfter = 2, kSectors = kBefore + kAfter;
    constexpr std::size_t kCheck = kBefore * kCdgPacksPerSector - kCdgLagPacks;
    TKsParagraphBoundaryBuffer buffer(kSectors * kAudioSubSector);
    if (buffer.Empty())
        return std::nullopt;
    const bool density = method_ == RipToshiba && modeCmdType_ >= 0;
    if (density)
        SetDensity(*transport_, *drive_, kCdgDensity, kAudioSubSector, modeCmdType_);
    const bool read = ReadSectors(*transport_, *drive_, method_, mode_, lastFrame_ - kBefore, kSectors, buffer);
    if (density)
        SetDensity(*transport_, *drive_, 0, 2048, modeCmdType_);
    if (!read)
        return std::nullopt;

    std::array<std::uint8_t, kSectors * kSubChannelBytes> sub;
    const auto* sectors = reinterpret_cast<const std::uint8_t*>(buffer.Data());
    for (std::uint32_t s = 0; s < kSectors; ++s)
        std::memcpy(sub.data() + s * kSubChannelBytes, sectors + s * kAudioSubSector + kAudioSector, kSubChannelBytes);
    // The player's own steps: masked, and raw packs de-interleaved from an empty delay line
    // and corrected; the drive's R-W (its delay line filled from before) as they are.
    TCdgPipeline pipeline;
    pipeline.Setup({.raw = mode_ == SubCodeRAW, .correct = true, .syncSectors = 0});
    const TCdgRunPacks run = pipeline.Process(sub.data(), kSectors, 0);
    if (run.count != kSectors * kCdgPacksPerSector)
        return std::nullopt;

    // Pack kCdgLagPacks + k of the run is the track's pack k of sector lastFrame_ - kBefore.
    const std::uint8_t* checked = run.packs + kCdgLagPacks * kCdgPackBytes;
    const std::uint8_t* tailStart = checked + kCheck * kCdgPackBytes;
    const std::size_t compare = std::min(kCheck, packs_.size() / kCdgPackBytes) * kCdgPackBytes;
    if (!std::equal(tailStart - compare, tailStart, packs_.end() - static_cast<std::ptrdiff_t>(compare)))
        return std::nullopt;
    CdgTail tail;
    std::copy_n(tailStart, tail.size(), tail.begin());
    return tail;
}

bool CdgRip::FinishTrack(TCdgBuffer& buffer, const std::string& wavFile, std::string& cdgFile, CdgTrackReport& report,
                         std::string& error)
{
    Take(buffer); // whatever the window has not handed on yet
    report = LineUpCdgPacks(packs_, lastFrame_ - firstFrame_, trackSectors_, ReadTail());
    cdgFile = std::filesystem::path(wavFile).replace_extension(".cdg").string();
    const bool written = WriteFileReplacing(cdgFile, packs_, error);
    packs_ = {};
    return written;
}

} // namespace vantrel::cli
