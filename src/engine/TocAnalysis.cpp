#include "engine/TocAnalysis.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

#include "engine/KsCdPlayer.h"

namespace vantrel {

namespace {

constexpr int kIndexZeroReads = 100;  // by READ CDDA or READ CD
constexpr int kSubChannelReads = 500; // by READ SUB-CHANNEL, which drives answer less exactly
constexpr int kSubChannelMethod = 3;
// Before an analysis reads, the display gets its moment to come up.
constexpr auto kSettleTime = std::chrono::milliseconds(100);

std::int64_t Frames(TCdAddress address)
{
    return AddressToFrames(address);
}

int Adr(const TQRecord& q)
{
    return q[0] & 0x0F;
}

std::uint8_t Control(const TQRecord& q)
{
    return static_cast<std::uint8_t>(q[0] >> 4);
}

// The absolute position a Q reports (bytes 7 to 9).
std::int64_t QFrames(const TQRecord& q)
{
    return q[7] * kFramesPerMinute + q[8] * std::int64_t{kFramesPerSecond} + q[9];
}

// A frame whose Q holds no position (ADR 2 or 3 frames carry the catalogue number or
// ISRC): try the next one, else the previous one, never reaching either end of the range.
std::int64_t Nudge(std::int64_t probe, std::int64_t lower, std::int64_t upper)
{
    if (probe + 1 < upper)
        return probe + 1;
    if (probe - 1 > lower)
        return probe - 1;
    return probe;
}

// Two thirds into the range, then one frame towards the asked position when the drive
// reported another frame than the one asked for (it read a little early or late).
std::int64_t NextProbe(std::int64_t lower, std::int64_t upper, std::int64_t reported, std::int64_t asked)
{
    std::int64_t probe = lower + (upper - lower) * 2 / 3;
    if (reported > asked)
        --probe;
    else if (reported < asked)
        ++probe;
    return probe;
}

void SetFlags(TCdTrackEntry& entry, std::uint8_t control)
{
    entry.preEmphasis = control & 1;
    entry.copyPermitted = control >> 1 & 1;
    entry.dataTrack = control >> 2 & 1;
    entry.fourChannel = control >> 3 & 1;
}

// The decimal media identity as a number; 0 for anything else.
std::uint64_t DecimalIdentity(std::string text)
{
    text.resize(std::min<std::size_t>(text.size(), 63));
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t'; };
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() ? static_cast<std::uint64_t>(value) : 0;
}

// Keeps the tray shut while an analysis reads.
class TTrayLock {
public:
    TTrayLock(IDriveCommands& commands, int drive, Transport transport)
        : commands_(commands), drive_(drive), transport_(transport)
    {
        commands_.LockTray(drive_, transport_, true);
    }
    ~TTrayLock() { commands_.LockTray(drive_, transport_, false); }
    TTrayLock(const TTrayLock&) = delete;
    TTrayLock& operator=(const TTrayLock&) = delete;

private:
    IDriveCommands& commands_;
    int drive_;
    Transport transport_;
};

} // namespace

// ---------------------------------------------------------------------------------
// Progress

bool TProgressState::Apply(int code, int value)
{
    const auto counted = [this] {
        char text[32];
        std::snprintf(text, sizeof text, "(%d/%d)", step, total);
        caption = baseCaption + "... " + text;
    };
    switch (code) {
    case anFailed:
    case anFinished:
    case anCancelled:
        return true;
    case anStep:
        ++step;
        counted();
        barPos = std::min(barPos + 1, barMax);
        break;
    case anTotal:
        total = value;
        step = 1;
        counted();
        barMax = value + 1;
        if (value > 1)
            barPos = 1;
        barPos = std::min(barPos, barMax);
        break;
    case anReset:
        barMax = 1;
        barPos = 0;
        break;
    case anFill:
        barPos = barMax;
        break;
    case anAdvance:
        barPos = std::min(barPos + 1, barMax);
        break;
    default:
        break;
    }
    return false;
}

void TProgressSink::Prepare(const std::string& caption, const std::string&, const TDlgFont&)
{
    std::scoped_lock lock(mutex_);
    state_ = TProgressState{};
    state_.baseCaption = state_.caption = caption;
    isClosed_ = false;
}

void TProgressSink::ShowModal()
{
    std::unique_lock lock(mutex_);
    closed_.wait(lock, [this] { return isClosed_; });
}

void TProgressSink::Notify(int code, int value)
{
    bool closes;
    {
        std::scoped_lock lock(mutex_);
        closes = state_.Apply(code, value);
    }
    if (observer_)
        observer_(code, value);
    if (closes) {
        std::scoped_lock lock(mutex_);
        isClosed_ = true;
        closed_.notify_all();
    }
}

TProgressState TProgressSink::State() const
{
    std::scoped_lock lock(mutex_);
    return state_;
}

// ---------------------------------------------------------------------------------
// Searches

TSearchResult GetIndexZeroPos(const TQReader& read, int method, std::int64_t& out, std::int64_t upper,
                              std::int64_t lower, int track, const std::atomic<std::uint8_t>* status)
{
    lower = std::max<std::int64_t>(lower, 0);
    TQRecord q{};
    if (method == 0) {
        bool failed = false;
        for (const int candidate : {1, 2, 3}) {
            const QRead result = read(candidate, lower, q);
            if (result == QRead::Ok) {
                method = candidate;
                break;
            }
            failed = failed || result == QRead::Failed;
        }
        if (method == 0)
            return failed ? TSearchResult::DriveFailed : TSearchResult::NotFound;
    } else if (method < 1 || method > 3) {
        return TSearchResult::NotFound;
    }

    std::int64_t best = upper;
    bool found = false;
    std::int64_t probe = lower + (upper - lower) * 2 / 3;
    const int budget = method == kSubChannelMethod ? kSubChannelReads : kIndexZeroReads;
    for (int reads = 0; reads < budget; ++reads) {
        if (status && status->load() == asCancel)
            return TSearchResult::NotFound;
        if (const QRead result = read(method, probe, q); result != QRead::Ok)
            return result == QRead::Refused ? TSearchResult::NotFound : TSearchResult::DriveFailed;
        if (Adr(q) != 1) {
            probe = Nudge(probe, lower, best);
            continue;
        }
        const std::int64_t u = QFrames(q);
        if (q[1] == track - 1 && q[2] != 0) {
            lower = std::max(lower, u);
        } else if (q[1] == track && q[2] == 0) {
            found = true;
            best = std::min(best, u);
        }
        probe = NextProbe(lower, best, u, probe);
        if (best - lower <= 1) {
            out = found ? best : upper;
            return TSearchResult::Found;
        }
    }
    if (!found)
        return TSearchResult::NotFound;
    out = best;
    return TSearchResult::Found;
}

TSearchResult GetTrackStartPos(const TQReader& read, std::uint8_t& control, std::int64_t& out, std::int64_t upper,
                               std::int64_t lower, int track, const std::atomic<std::uint8_t>& status)
{
    lower = std::max<std::int64_t>(lower, 0);
    std::int64_t probe = (lower + upper) / 2;
    bool found = false;
    TQRecord q{};
    for (int attempts = 0; attempts < kSubChannelReads; ++attempts) {
        if (status.load() == asCancel)
            return TSearchResult::NotFound;
        const QRead result = read(kSubChannelMethod, probe, q);
        if (result == QRead::Failed)
            return TSearchResult::DriveFailed;
        if (result == QRead::Refused)
            continue; // the attempt is used up; the same frame is asked again
        if (Adr(q) != 1) {
            probe = Nudge(probe, lower, upper);
            continue;
        }
        const std::int64_t u = QFrames(q);
        if (q[1] < track) {
            lower = std::max(lower, u);
        } else if (q[1] > track) {
            upper = std::min(upper, u);
        } else {
            found = true;
            if (q[2] == 0) {
                lower = std::max(lower, u);
            } else {
                control = Control(q);
                upper = std::min(upper, u);
            }
        }
        probe = NextProbe(lower, upper, u, probe);
        if (upper - lower <= 1) {
            out = upper;
            return TSearchResult::Found;
        }
    }
    if (!found)
        return TSearchResult::NotFound;
    out = upper;
    return TSearchResult::Found;
}

// ---------------------------------------------------------------------------------
// The CD-audio device

std::uint32_t ReadTocMci(ICdAudio& device, std::uint32_t deviceId, TCdToc& toc, std::uint32_t& identity)
{
    toc = TCdToc{};
    identity = 0;
    if (std::string text; device.MediaIdentity(deviceId, text))
        identity = static_cast<std::uint32_t>(DecimalIdentity(text));
    int count = 0;
    if (!device.SetTimeFormatMsf(deviceId) || !device.TrackCount(deviceId, count))
        return 0;
    count = std::clamp(count, 0, kMaxTracks);
    if (count == 0)
        return 0;
    // The same layout as the SCSI tables: numbered tracks, pre-gap fields equal to the
    // starts and ends until an analysis finds better.
    toc.firstTrack = 1;
    toc.lastTrack = toc.trackCount = static_cast<std::uint8_t>(count);
    for (int t = 1; t <= count; ++t) {
        TCdAddress start;
        if (!device.TrackStart(deviceId, t, start))
            return 0;
        TCdTrackEntry& entry = toc.tracks[t - 1];
        entry.start = entry.preGapStart = start;
        entry.trackNumber = static_cast<std::uint8_t>(t);
        if (t > 1)
            toc.tracks[t - 2].end = toc.tracks[t - 2].endBeforeGap = start;
    }
    toc.tracks[0].preGapStart = TCdAddress{};
    for (int t = 1; t <= count; ++t) {
        bool audio = true;
        if (!device.TrackIsAudio(deviceId, t, audio))
            return 0;
        toc.tracks[t - 1].dataTrack = audio ? 0 : 1;
    }
    TCdAddress length;
    if (!device.TrackLength(deviceId, count, length))
        return 0;
    // The device reports the last track one frame short.
    TCdTrackEntry& last = toc.tracks[count - 1];
    toc.leadOut = FramesToCdAddress(Frames(last.start) + Frames(length) + 1);
    last.end = last.endBeforeGap = toc.leadOut;
    return ComputeCddbId(toc);
}

// ---------------------------------------------------------------------------------
// The component's table-of-contents operations

std::int64_t TKsCdPlayer::GetTrack1Address(int index) const
{
    return ValidDrive(index) ? track1Address_[index] : 0;
}

std::int64_t TKsCdPlayer::GetLeadOut(int index, int session) const
{
    return ValidDrive(index) && session >= 0 && session < 100 ? leadOuts_[index][session] : 0;
}

TKsCdPlayer::TDiscAddresses TKsCdPlayer::AddressesOf(const TCdToc& toc)
{
    TDiscAddresses addresses;
    addresses.track1 = Frames(toc.tracks[0].start);
    addresses.leadOuts[0] = Frames(toc.leadOut);
    for (int s = 1; s <= std::min<int>(toc.sessionCount, 99); ++s)
        addresses.leadOuts[s] = Frames(toc.sessions[s - 1].leadOut);
    return addresses;
}

void TKsCdPlayer::SetDiscAddresses(int index, const TDiscAddresses& addresses)
{
    if (!ValidDrive(index))
        return;
    track1Address_[index] = addresses.track1;
    leadOuts_[index] = addresses.leadOuts;
}

bool TKsCdPlayer::GetDiscInfo(const std::string& letter, TCdToc& toc, TCddbParams& params)
{
    const int index = GetDriveIndex(letter);
    if (!ValidDrive(index))
        return false;
    SetDiscAddresses(index, TDiscAddresses{});
    params.CdPlayerId = params.CddbId = params.TotalSeconds = 0;
    toc = TCdToc{};

    // The CD-audio device's table and identity, the fallback when SCSI gives nothing.
    TCdToc local{};
    std::uint32_t mciId = 0, identity = 0, mciSeconds = 0;
    std::string mciQuery;
    if (GetMciAvails(index) && engines_.cdAudio) {
        ICdAudio& cd = *engines_.cdAudio;
        std::uint32_t id = deviceId_[index];
        const bool opened = deviceOpened_[index];
        if (opened || cd.Open(letter, id)) {
            mciId = ReadTocMci(cd, id, local, identity);
            if (!opened)
                cd.Close(id);
        }
        mciSeconds = TotalSeconds(local);
        mciQuery = BuildCddbQuery(local, mciId);
        if (identity == 0)
            identity = cd.VolumeSerial(letter);
    } else if (engines_.cdAudio) {
        identity = engines_.cdAudio->VolumeSerial(letter);
    }

    bool scsi = false;
    const bool aspi = GetAspiAvails(index), spti = GetSptiAvails(index);
    if (engines_.commands && ((aspi && !useSpti_[index]) || spti)) {
        // A drive reached only by the letter path takes it whatever UseSpti says.
        const Transport transport = (useSpti_[index] && spti) || !aspi ? Transport::Spti : Transport::Aspi;
        IDriveCommands& commands = *engines_.commands;
        if (drive_[index].ReadTocMode == 1)
            scsi = commands.ReadTocAdvanced(index, transport, drive_[index].Bcd, toc) ||
                   commands.ReadTocNormal(index, transport, toc);
        else
            scsi = commands.ReadTocNormal(index, transport, toc);
    }

    if (scsi) {
        params = MakeCddbParams(toc);
        if (drive_[index].PreGapMode != 0)
            RunAnalysis(PreGapCaption, &toc, letter, &TKsCdPlayer::DlgThreadProcPregap);
    } else {
        toc = local;
        params.NumTracks = static_cast<std::uint32_t>(TocTrackCount(local));
        params.CdPlayerId = identity;
        params.CddbId = mciId;
        params.TotalSeconds = mciSeconds;
        params.CddbQuery = mciQuery;
    }
    SetDiscAddresses(index, AddressesOf(toc));
    return params.CddbId != 0;
}

bool TKsCdPlayer::GetTocManual(const std::string& letter, TCdToc& toc, TCddbParams& params)
{
    const int index = GetDriveIndex(letter);
    if (!ValidDrive(index))
        return false;
    params.CdPlayerId = params.CddbId = params.TotalSeconds = 0;
    toc = TCdToc{};
    if (RunAnalysis(TocCaption, &toc, letter, &TKsCdPlayer::DlgThreadProcToc) != asFinished)
        return false;
    params = MakeCddbParams(toc);
    if (drive_[index].PreGapMode != 0)
        RunAnalysis(PreGapCaption, &toc, letter, &TKsCdPlayer::DlgThreadProcPregap);
    return true;
}

bool TKsCdPlayer::ReadCdText(const std::string& letter, std::uint8_t* buffer, std::size_t size, std::size_t& length)
{
    if (buffer)
        std::fill_n(buffer, size, 0);
    length = 0;
    const int index = GetDriveIndex(letter);
    if (!ValidDrive(index) || !engines_.commands || !buffer)
        return false;
    Transport transport;
    if (GetAspiAvails(index))
        transport = Transport::Aspi;
    else if (GetSptiAvails(index))
        transport = Transport::Spti;
    else
        return false;
    return engines_.commands->ReadCdText(index, transport, buffer, size, length);
}

void TKsCdPlayer::CancelDlgOpeartion()
{
    // Only a running analysis that has not ended yet turns into a cancelled one.
    std::uint8_t running = asIdle;
    if (analysing_)
        status_.compare_exchange_strong(running, asCancel);
}

std::uint8_t TKsCdPlayer::RunAnalysis(const std::string& caption, TCdToc* toc, const std::string& letter,
                                      void (*entry)(TKsCdPlayer*))
{
    std::unique_ptr<IAnalysisProgress> dialog = progressFactory_ ? progressFactory_(*this) : nullptr;
    if (!dialog)
        dialog = std::make_unique<TProgressSink>();
    analysedToc_ = toc;
    analysedDrive_ = letter;
    dialog_ = dialog.get();
    closeSent_ = false;
    addressesDrive_ = -1;
    dialog->Prepare(caption, ElapsedLabel, dlgFont_);

    status_ = asIdle;
    analysing_ = true;
    std::thread worker;
    try {
        worker = std::thread(entry, this);
    } catch (const std::system_error&) {
        // No worker: nothing to show, the status stays idle.
    }
    if (worker.joinable()) {
        dialog->ShowModal();
        worker.join();
    }
    analysing_ = false;
    const std::uint8_t status = status_.exchange(asIdle);

    if (addressesDrive_ >= 0)
        SetDiscAddresses(addressesDrive_, analysedAddresses_);
    dialog_ = nullptr;
    dialog.reset();
    analysedToc_ = nullptr;
    analysedDrive_.clear();
    lastStatus_ = status;
    return status;
}

void TKsCdPlayer::DlgThreadProcPregap(TKsCdPlayer* player)
{
    player->RunWorker(&TKsCdPlayer::AnalyPregap);
}

void TKsCdPlayer::DlgThreadProcToc(TKsCdPlayer* player)
{
    player->RunWorker(&TKsCdPlayer::AnalyToc);
}

void TKsCdPlayer::RunWorker(void (TKsCdPlayer::*analysis)())
{
    try {
        (this->*analysis)();
    } catch (...) {
        // Reported below as a failure.
    }
    // Whatever happened, the display closes: the caller waits in it for the worker.
    if (!closeSent_)
        FailAnalysis();
}

void TKsCdPlayer::Notify(int code, int value)
{
    if (code == anFailed || code == anFinished || code == anCancelled)
        closeSent_ = true;
    if (dialog_)
        dialog_->Notify(code, value);
}

void TKsCdPlayer::FailAnalysis()
{
    status_ = asFailed;
    Notify(anFailed);
}

void TKsCdPlayer::AnalyPregap()
{
    Notify(anReset);
    std::this_thread::sleep_for(kSettleTime);
    TCdToc* toc = analysedToc_;
    const int index = GetDriveIndex(analysedDrive_);
    Transport transport;
    if (!toc || !ValidDrive(index) || !engines_.commands || !PickTransport(index, transport))
        return FailAnalysis();
    IDriveCommands& commands = *engines_.commands;
    const int method = drive_[index].PreGapMethod;
    const TQReader read = [&commands, index, transport](int m, std::int64_t frames, TQRecord& q) {
        return commands.ReadQ(index, transport, m, frames, q);
    };

    // A drive that stops answering leaves the table as it was read.
    const TCdToc asRead = *toc;
    const int count = TocTrackCount(*toc);
    bool driveFailed = false;
    {
        const TTrayLock lock(commands, index, transport);
        Notify(anTotal, count);
        int session = 1;
        for (int i = 1; i < count && status_ != asCancel; ++i) {
            Notify(anStep);
            TCdTrackEntry& entry = toc->tracks[i];
            const std::int64_t lower = Frames(toc->tracks[i - 1].start), upper = Frames(entry.start);
            std::int64_t position = 0;
            TSearchResult result;
            if (toc->sessionCount > 0) {
                // The first track of a later session keeps its table values: its pre-gap
                // lies behind the previous session's lead-out and lead-in.
                if (entry.session != session) {
                    session = entry.session;
                    continue;
                }
                result = GetIndexZeroPos(read, method, position, upper, lower, entry.trackNumber, nullptr);
            } else {
                result = GetIndexZeroPos(read, method, position, upper, lower, entry.trackNumber, &status_);
            }
            if (result == TSearchResult::DriveFailed) {
                driveFailed = true;
                break;
            }
            if (result == TSearchResult::Found && lower <= position && position <= upper) {
                entry.preGapStart = FramesToCdAddress(position);
                toc->tracks[i - 1].endBeforeGap = entry.preGapStart;
            }
        }
    }
    if (driveFailed) {
        *toc = asRead;
        return FailAnalysis();
    }
    if (status_ == asCancel)
        return Notify(anCancelled);

    const bool playGap = drive_[index].PreGapMode == 1;
    toc->tracks[0].end = toc->tracks[0].endBeforeGap;
    for (int i = 1; i < count; ++i) {
        TCdTrackEntry& entry = toc->tracks[i];
        if (playGap)
            entry.start = entry.preGapStart;
        entry.end = entry.endBeforeGap;
    }
    Notify(anFill);
    status_ = asFinished;
    Notify(anFinished);
}

void TKsCdPlayer::AnalyToc()
{
    std::this_thread::sleep_for(kSettleTime);
    Notify(anReset);
    TCdToc* toc = analysedToc_;
    const int index = GetDriveIndex(analysedDrive_);
    if (!toc || !ValidDrive(index))
        return FailAnalysis();
    addressesDrive_ = index; // cleared, unless the analysis ends with a table
    analysedAddresses_ = TDiscAddresses{};
    Transport transport;
    if (!engines_.commands || !PickTransport(index, transport))
        return FailAnalysis();
    IDriveCommands& commands = *engines_.commands;
    TCdToc local{};
    if (!commands.ReadTocAdvanced(index, transport, drive_[index].Bcd, local))
        return FailAnalysis();
    const TQReader read = [&commands, index, transport](int m, std::int64_t frames, TQRecord& q) {
        return commands.ReadQ(index, transport, m, frames, q);
    };

    const int sessions = std::min<int>(local.sessionCount, 100);
    int total = 0;
    for (int e = 0; e < sessions; ++e)
        total += std::max(0, local.sessions[e].lastTrack - local.sessions[e].firstTrack + 1);
    Notify(anTotal, total);

    // By track number, with room for the track after track 99.
    std::array<std::int64_t, kMaxTracks + 2> starts{};
    std::array<std::uint8_t, kMaxTracks + 2> controls{};
    bool failed = false;
    {
        const TTrayLock lock(commands, index, transport);
        for (int e = 0; e < sessions && !failed && status_ != asCancel; ++e) {
            const TCdSession& session = local.sessions[e];
            const std::int64_t first = Frames(session.start), leadOut = Frames(session.leadOut);
            for (int t = session.firstTrack; t <= session.lastTrack; ++t) {
                if (t < 1 || t > kMaxTracks) {
                    failed = true;
                    break;
                }
                const std::int64_t lower = std::max(starts[t - 1], first);
                std::int64_t position = 0;
                std::uint8_t control = 0;
                const TSearchResult result = GetTrackStartPos(read, control, position, leadOut, lower, t, status_);
                if (result == TSearchResult::Found) {
                    starts[t] = t == session.firstTrack ? first : position;
                    controls[t] = control;
                } else if (result == TSearchResult::DriveFailed || status_ != asCancel) {
                    failed = true; // a track without a start makes no table
                    break;
                }
                Notify(anStep);
                if (status_ == asCancel)
                    break;
            }
        }
    }
    if (failed)
        return FailAnalysis();
    if (status_ == asCancel)
        return Notify(anCancelled);

    TCdToc result{};
    result.firstSession = local.firstSession;
    result.lastSession = local.lastSession;
    result.sessionCount = local.sessionCount;
    result.firstTrack = local.firstTrack;
    result.lastTrack = local.lastTrack;
    result.trackCount = local.trackCount;
    for (int e = 0; e < sessions; ++e) {
        const TCdSession& session = local.sessions[e];
        result.sessions[e] = session;
        for (int t = session.firstTrack; t <= session.lastTrack; ++t) {
            const int i = t - local.firstTrack;
            if (i < 0 || i >= kMaxTracks)
                continue;
            TCdTrackEntry& entry = result.tracks[i];
            entry.start = entry.preGapStart = FramesToCdAddress(starts[t]);
            entry.end = entry.endBeforeGap =
                t == session.lastTrack ? session.leadOut : FramesToCdAddress(starts[t + 1]);
            SetFlags(entry, controls[t]);
            entry.trackNumber = static_cast<std::uint8_t>(t);
            entry.session = static_cast<std::uint8_t>(e + 1);
        }
    }
    result.tracks[0].preGapStart = TCdAddress{};
    if (const int count = TocTrackCount(result); count > 0)
        result.tracks[count].start = result.tracks[count - 1].end;
    result.leadOut = local.leadOut;
    *toc = result;
    analysedAddresses_ = AddressesOf(result);

    Notify(anFill);
    status_ = asFinished;
    Notify(anFinished);
}

} // namespace vantrel
