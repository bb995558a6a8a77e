#include "vdrive/drive/VirtualDrive.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <utility>

#include "drive/CdAddress.h"
#include "vdrive/codec/CdTextPacks.h"
#include "vdrive/codec/CdgPack.h"
#include "vdrive/codec/SubLayout.h"
#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive {
namespace {

// What a drive answers when it refuses, by cause.
constexpr Sense kMediumNotPresent{0x02, 0x3A, 0x00};
constexpr Sense kUnrecoveredRead{0x03, 0x11, 0x00};  // an audio sector
constexpr Sense kLecUncorrectable{0x03, 0x11, 0x05}; // a data sector
constexpr Sense kTocUnreadable{0x03, 0x57, 0x00};
constexpr Sense kParameterLength{0x05, 0x1A, 0x00};
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};
constexpr Sense kInvalidField{0x05, 0x24, 0x00};
constexpr Sense kInvalidParameter{0x05, 0x26, 0x00};
constexpr Sense kSequenceError{0x05, 0x2C, 0x00};
constexpr Sense kSavingNotSupported{0x05, 0x39, 0x00};
constexpr Sense kRemovalPrevented{0x05, 0x53, 0x02};
constexpr Sense kIllegalModeForTrack{0x05, 0x64, 0x00};

constexpr std::int64_t kSamplesPerSector = kFrameSamples;
constexpr std::uint8_t kDensityCdda = 0x82;
constexpr std::int64_t kNoSector = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kDataBlock = 2048;
// Full TOC values a pressed multi-session disc carries: the latest possible lead-out
// (79:59:74, in B0) and the start of the first lead-in (97:27:00, in C0).
constexpr std::int64_t kMaxLeadOutFrames = 79 * kFramesPerMinute + 59 * kFramesPerSecond + 74;
constexpr std::int64_t kFirstLeadInFrames = 97 * kFramesPerMinute + 27 * kFramesPerSecond;

CommandResult Good(std::size_t transferred = 0)
{
    return {kStatusGood, {}, transferred};
}
CommandResult Check(Sense sense, std::size_t transferred = 0)
{
    return {kStatusCheckCondition, sense, transferred};
}

std::uint32_t Be16(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 8 | p[1];
}
std::uint32_t Be24(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 16 | Be16(p + 1);
}
std::uint32_t Be32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | Be24(p + 1);
}
void PutBe16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void PutBe32(std::uint8_t* p, std::uint32_t v)
{
    PutBe16(p, v >> 16);
    PutBe16(p + 2, v);
}
std::int64_t MsfFrames(const std::uint8_t* msf)
{
    return msf[0] * kFramesPerMinute + msf[1] * std::int64_t{kFramesPerSecond} + msf[2];
}
// Minute, second and frame of an absolute frame number (into 3 bytes), binary or BCD.
void PutMsf(std::uint8_t* out, std::int64_t frames, bool bcd = false)
{
    const TCdAddress a = FramesToCdAddress(frames);
    out[0] = bcd ? BinToBcd(a.minute) : a.minute;
    out[1] = bcd ? BinToBcd(a.second) : a.second;
    out[2] = bcd ? BinToBcd(a.frame) : a.frame;
}
// A READ TOC or READ SUB-CHANNEL address: 0 M S F, or the signed sector number.
void PutAddress(std::uint8_t* out, std::int64_t lba, bool msf)
{
    if (msf) {
        out[0] = 0;
        PutMsf(out + 1, lba + kLeadInFrames);
    } else {
        PutBe32(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(lba)));
    }
}

struct Request {
    const std::uint8_t* cdb;
    std::size_t cdbLength;
    Direction direction;
    std::uint8_t* buffer;
    std::size_t length;

    std::uint8_t operator[](std::size_t i) const { return cdb[i]; }
    // How many bytes the command may place in the buffer.
    std::size_t Room() const { return direction == Direction::In && buffer ? length : 0; }
};

// A data-in answer cut to the allocation length and the buffer.
CommandResult Reply(const Request& r, const std::vector<std::uint8_t>& data, std::size_t allocation)
{
    const std::size_t n = std::min({data.size(), allocation, r.Room()});
    if (n > 0)
        std::memcpy(r.buffer, data.data(), n);
    return Good(n);
}

// How the sectors of a read are laid out in the answer.
enum class MainData : std::uint8_t {
    None,     // sub-channel only
    Audio,    // 2352 bytes; data sectors refused
    UserData, // the 2048 user bytes; audio sectors refused
    ByFlags,  // READ CD: byte 9 flags and the expected sector type
};
enum class SubData : std::uint8_t { None, Raw, Q, BinaryQ, Rw };

struct ReadFormat {
    MainData main = MainData::Audio;
    SubData sub = SubData::None;
    std::uint8_t flags = 0;    // READ CD byte 9
    std::uint8_t expected = 0; // READ CD expected sector type: 0 any, 1 CD-DA, 2 mode 1, 3-5 others
};

// READ CD flag bits (byte 9) and where their parts sit in a raw mode 1 sector.
constexpr std::uint8_t kFlagSync = 0x80, kFlagUserData = 0x10, kFlagEdc = 0x08, kFlagC2 = 0x06;
struct DataPart {
    std::size_t from, bytes;
};
constexpr DataPart kSync{0, 12}, kHeader{12, 4}, kUser{16, 2048}, kEdc{2064, 288};

bool WantsHeader(std::uint8_t flags)
{
    const int code = flags >> 5 & 3; // 1 header, 2 sub-header (none in mode 1), 3 both
    return code == 1 || code == 3;
}

// Bytes of one sector in the answer, or the sense that refuses the read.
std::optional<Sense> SectorBytes(const ReadFormat& format, bool audio, std::size_t& bytes)
{
    bytes = 0;
    switch (format.main) {
    case MainData::None:
        break;
    case MainData::Audio:
        if (!audio)
            return kIllegalModeForTrack;
        bytes = kFrameBytes;
        break;
    case MainData::UserData:
        if (audio)
            return kIllegalModeForTrack;
        bytes = kUser.bytes;
        break;
    case MainData::ByFlags:
        if (format.expected > 5 || (format.flags & kFlagC2))
            return kInvalidField; // no C2 error pointers
        if ((format.expected == 1 && !audio) || (format.expected == 2 && audio) || format.expected >= 3)
            return kIllegalModeForTrack; // mode 2 sectors do not occur
        if (audio)
            bytes = format.flags & 0xF8 ? kFrameBytes : 0;
        else
            bytes = (format.flags & kFlagSync ? kSync.bytes : 0) + (WantsHeader(format.flags) ? kHeader.bytes : 0) +
                    (format.flags & kFlagUserData ? kUser.bytes : 0) + (format.flags & kFlagEdc ? kEdc.bytes : 0);
        break;
    }
    switch (format.sub) {
    case SubData::None:
        break;
    case SubData::Q:
    case SubData::BinaryQ:
        bytes += kFormattedQBytes;
        break;
    case SubData::Raw:
    case SubData::Rw:
        bytes += kSubBytes;
        break;
    }
    return std::nullopt;
}

// One output port of the audio control page: which disc channels feed it, how loud.
struct Port {
    std::uint8_t select = 0, volume = 0;
};
constexpr std::array<Port, 4> kDefaultPorts{{{1, 255}, {2, 255}, {0, 0}, {0, 0}}};

std::int16_t PortSample(const Port& port, std::int16_t left, std::int16_t right)
{
    int value = 0;
    switch (port.select & 3) {
    case 1:
        value = left;
        break;
    case 2:
        value = right;
        break;
    case 3:
        value = (left + right) / 2;
        break;
    default:
        break;
    }
    return static_cast<std::int16_t>(value * port.volume / 255);
}

std::int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The CD-Text packs a disc hands out: its own, else built from the texts of its first
// session; none when there is no text or it does not fit in one block.
std::vector<std::uint8_t> CdTextOf(const Disc& disc)
{
    if (!disc.cdTextPacks.empty() || disc.tracks.empty())
        return disc.cdTextPacks;
    CdTextBlock block;
    block.albumTitle = disc.albumText.title;
    block.albumPerformer = disc.albumText.performer;
    block.albumSongwriter = disc.albumText.songwriter;
    block.firstTrack = static_cast<std::uint8_t>(disc.tracks.front().number);
    for (const Track& track : disc.tracks) {
        if (track.session != disc.tracks.front().session)
            break;
        block.trackTitles.push_back(track.text.title);
        block.trackPerformers.push_back(track.text.performer);
        block.trackSongwriters.push_back(track.text.songwriter);
    }
    return BuildCdTextPacks(block);
}

// Samples from..to (counted from sector 0) as the analog output sounds them, in pieces of at
// most 8 sectors.
void PlayOut(const Disc& disc, const std::array<Port, 4>& ports, std::int64_t from, std::int64_t to, ILineOut& sink)
{
    constexpr std::int64_t kChunkSectors = 8;
    std::vector<std::int16_t> stereo;
    std::uint8_t sector[kSectorBytes];
    while (from < to) {
        const std::int64_t chunkEnd = std::min(to, (from / kSamplesPerSector + kChunkSectors) * kSamplesPerSector);
        stereo.clear();
        for (std::int64_t lba = from / kSamplesPerSector; lba * kSamplesPerSector < chunkEnd; ++lba) {
            if (!disc.ReadSector(lba, sector))
                std::memset(sector, 0, sizeof sector);
            const std::int64_t first = std::max(from, lba * kSamplesPerSector) - lba * kSamplesPerSector;
            const std::int64_t last = std::min(chunkEnd, (lba + 1) * kSamplesPerSector) - lba * kSamplesPerSector;
            for (std::int64_t i = first; i < last; ++i) {
                const std::uint8_t* s = sector + 4 * i;
                const auto left = static_cast<std::int16_t>(s[0] | s[1] << 8);
                const auto right = static_cast<std::int16_t>(s[2] | s[3] << 8);
                stereo.push_back(PortSample(ports[0], left, right));
                stereo.push_back(PortSample(ports[1], left, right));
            }
        }
        sink.Audio(stereo.data(), stereo.size() / 2);
        from = chunkEnd;
    }
}

} // namespace

class VirtualDrive::Impl {
public:
    explicit Impl(DriveOptions o) : options(std::move(o)), rng(options.seed)
    {
        if (options.speeds.empty())
            options.speeds = DriveOptions{}.speeds;
        readSpeed = options.speeds.back();
    }

    DriveOptions options;
    std::mutex mutex;        // guards everything below
    std::mutex lineOutMutex; // held while audio goes to the line out, taken before mutex
    Clock clock = SteadyMilliseconds;
    Sleep sleep = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    ILineOut* lineOut = nullptr;
    std::vector<bool> events; // media changes to raise once the lock is released
    Sense lastSense;

    std::shared_ptr<const Disc> disc;
    std::vector<std::uint8_t> cdText;
    bool trayOpen = false, locked = false, trayFaultArmed = false;
    std::int64_t head = 0; // sector under the head: last read, seek or play position

    std::uint8_t density = 0;
    std::uint32_t blockLength = kDataBlock;
    std::array<Port, 4> ports = kDefaultPorts;
    int readSpeed = 0;
    std::mt19937_64 rng; // jitter offsets; its output is the same on every platform

    struct Play {
        std::uint8_t status = audio_status::kNone;
        std::int64_t start = 0, end = 0, position = 0; // samples from sector 0
        std::int64_t originSample = 0, originMs = 0;   // where and when the clock last started
    } play;
    std::deque<std::pair<std::int64_t, std::int64_t>> unheard; // played, not yet on the line out

    std::int64_t cachedSector = kNoSector;
    std::uint8_t cache[kSectorBytes] = {};

    struct Command {
        std::uint8_t opcode, cdbBytes;
        unsigned family; // 0: every drive answers it
        bool needsDisc, read;
        CommandResult (Impl::*run)(const Request&);
    };
    static const Command* Find(std::uint8_t opcode);

    bool Loaded() const { return disc && !trayOpen; }

    CommandResult Run(const Request& r)
    {
        UpdatePlay();
        if (!r.cdb || r.cdbLength == 0)
            return Check(kInvalidOpcode);
        const Command* command = Find(r[0]);
        if (!command || (command->family != 0 && !(options.families & command->family)))
            return Check(kInvalidOpcode);
        if (r.cdbLength < command->cdbBytes)
            return Check(kInvalidField);
        if (command->needsDisc && !Loaded())
            return Check(kMediumNotPresent);
        return (this->*command->run)(r);
    }

    // ---- tray and disc ----

    void Load(std::shared_ptr<const Disc> newDisc, std::vector<std::uint8_t> text)
    {
        const bool wasLoaded = Loaded();
        play.status = audio_status::kNone;
        disc = std::move(newDisc);
        cdText = std::move(text);
        trayOpen = false;
        trayFaultArmed = disc && options.trayOpenAt >= 0;
        head = 0;
        unheard.clear();
        cachedSector = kNoSector;
        if (wasLoaded || disc)
            events.push_back(disc != nullptr);
    }

    void OpenTray()
    {
        StopPlay();
        if (!trayOpen && disc)
            events.push_back(false);
        trayOpen = true;
    }

    // ---- analog play ----

    void StopPlay()
    {
        if (play.status == audio_status::kPlaying || play.status == audio_status::kPaused)
            play.status = audio_status::kNone;
    }

    // Moves the play position to the clock, stopping at the end, at an error sector
    // (status error) or at the tray-open sector (the tray opens).
    void UpdatePlay()
    {
        if (play.status != audio_status::kPlaying)
            return;
        const double elapsed =
            static_cast<double>(std::max<std::int64_t>(0, clock() - play.originMs)) * options.clock * 44100.0 / 1000.0;
        std::int64_t target =
            std::min(play.end, play.originSample + static_cast<std::int64_t>(std::min(elapsed, 1e15)));
        if (target <= play.position)
            return;
        const std::int64_t first = play.position / kSamplesPerSector, last = (target - 1) / kSamplesPerSector;
        std::int64_t stopAt = -1;
        if (auto error = std::lower_bound(options.errors.begin(), options.errors.end(), first);
            error != options.errors.end() && *error <= last)
            stopAt = *error;
        const bool trayFault = trayFaultArmed && options.trayOpenAt >= first && options.trayOpenAt <= last &&
                               (stopAt < 0 || options.trayOpenAt <= stopAt);
        if (trayFault)
            stopAt = options.trayOpenAt;
        if (stopAt >= 0)
            target = std::max(play.position, stopAt * kSamplesPerSector);
        Hear(play.position, target);
        play.position = target;
        head = std::clamp(target / kSamplesPerSector, play.start / kSamplesPerSector, play.end / kSamplesPerSector - 1);
        if (trayFault) {
            trayFaultArmed = false;
            OpenTray();
        } else if (stopAt >= 0) {
            play.status = audio_status::kError;
        } else if (play.position >= play.end) {
            play.status = audio_status::kCompleted;
        }
    }

    void Hear(std::int64_t from, std::int64_t to)
    {
        if (!lineOut || to <= from)
            return;
        if (!unheard.empty() && unheard.back().second == from)
            unheard.back().second = to;
        else
            unheard.emplace_back(from, to);
    }

    CommandResult StartPlay(std::int64_t start, std::int64_t end)
    {
        if (end == start)
            return Good(); // plays nothing, and is no error
        if (end < start)
            return Check(kInvalidField);
        if (start < 0 || end > disc->LeadOut() || !disc->TrackAt(start))
            return Check(kLbaOutOfRange);
        if (disc->TrackAt(start)->mode != TrackMode::Audio)
            return Check(kIllegalModeForTrack);
        play.status = audio_status::kPlaying;
        play.start = play.position = play.originSample = start * kSamplesPerSector;
        play.end = end * kSamplesPerSector;
        play.originMs = clock();
        head = start;
        return Good();
    }

    // The status to report; a finished play is reported once.
    std::uint8_t TakeStatus()
    {
        const std::uint8_t status = play.status;
        if (status == audio_status::kCompleted || status == audio_status::kError)
            play.status = audio_status::kNone;
        return status;
    }

    // ---- sectors ----

    int DrawJitter()
    {
        if (options.jitter == 0)
            return 0;
        const auto span = static_cast<std::uint64_t>(options.jitter) * 2 + 1;
        return static_cast<int>(rng() % span) - options.jitter;
    }

    // A whole sector of the audio stream; silence outside the disc.
    const std::uint8_t* StreamSector(std::int64_t lba)
    {
        if (lba != cachedSector) {
            if (lba < 0 || lba >= disc->LeadOut())
                std::memset(cache, 0, sizeof cache);
            else if (!disc->ReadSector(lba, cache))
                return nullptr;
            cachedSector = lba;
        }
        return cache;
    }

    // Sector lba's 2352 audio bytes, moved by shift bytes along the disc.
    bool ReadAudio(std::int64_t lba, std::int64_t shift, std::uint8_t* out)
    {
        const std::int64_t first = lba * kSectorBytes + shift;
        std::int64_t sector = first >= 0 ? first / kSectorBytes : -((-first + kSectorBytes - 1) / kSectorBytes);
        auto offset = static_cast<std::size_t>(first - sector * kSectorBytes);
        for (std::size_t done = 0; done < kSectorBytes; offset = 0, ++sector) {
            const std::uint8_t* bytes = StreamSector(sector);
            if (!bytes)
                return false;
            const std::size_t n = std::min(kSectorBytes - offset, kSectorBytes - done);
            std::memcpy(out + done, bytes + offset, n);
            done += n;
        }
        return true;
    }

    bool ReadRw(std::int64_t lba, std::uint8_t* packs)
    {
        std::uint8_t raw[kSubBytes];
        if (!disc->ReadSubchannel(lba, raw))
            return false;
        GetRw(raw, packs);
        return true;
    }

    CommandResult ReadSectors(const Request& r, std::int64_t lba, std::int64_t count, const ReadFormat& format)
    {
        const std::int64_t shift = std::int64_t{DrawJitter()} * 4;
        StopPlay();
        if (count == 0)
            return Good();
        const std::int64_t leadOut = disc->LeadOut();
        if (lba < 0 || count < 0 || lba + count > leadOut + options.overread)
            return Check(kLbaOutOfRange);
        std::size_t total = 0;
        for (std::int64_t s = lba; s < lba + count; ++s) {
            const Track* track = s < leadOut ? disc->TrackAt(s) : nullptr;
            if (!track && s < leadOut)
                return Check(kLbaOutOfRange); // between two sessions
            std::size_t bytes = 0;
            if (const auto refusal = SectorBytes(format, !track || track->mode == TrackMode::Audio, bytes))
                return Check(*refusal);
            total += bytes;
        }
        if (total > r.Room())
            return Check(kInvalidField);

        CdgDeinterleaver deinterleaver;
        std::uint8_t packs[kSubBytes];
        if (format.sub == SubData::Rw) // the delay line needs the 7 packs before the first sector
            for (std::int64_t s = lba - 2; s < lba; ++s) {
                if (!ReadRw(s, packs))
                    std::memset(packs, 0, sizeof packs);
                deinterleaver.Deinterleave(packs, 4);
            }
        std::uint8_t* out = r.buffer;
        std::uint8_t raw[kSubBytes];
        std::uint8_t sector[kSectorBytes];
        for (std::int64_t s = lba; s < lba + count; ++s) {
            const std::size_t done = static_cast<std::size_t>(out - r.buffer);
            head = s;
            if (trayFaultArmed && s == options.trayOpenAt) {
                trayFaultArmed = false;
                OpenTray();
                return Check(kMediumNotPresent, done);
            }
            const Track* track = s < leadOut ? disc->TrackAt(s) : nullptr;
            const bool audio = !track || track->mode == TrackMode::Audio;
            if (std::binary_search(options.errors.begin(), options.errors.end(), s))
                return Check(audio ? kUnrecoveredRead : kLecUncorrectable, done);
            std::size_t mainBytes = 0;
            SectorBytes({format.main, SubData::None, format.flags, format.expected}, audio, mainBytes);
            if (audio && mainBytes > 0) {
                if (!ReadAudio(s, shift, out))
                    return Check(kUnrecoveredRead, done);
                out += mainBytes;
            } else if (mainBytes > 0) {
                if (!disc->ReadSector(s, sector))
                    return Check(kLecUncorrectable, done);
                const std::uint8_t flags = format.main == MainData::UserData ? kFlagUserData : format.flags;
                for (const auto& [part, wanted] :
                     {std::pair{kSync, (flags & kFlagSync) != 0}, std::pair{kHeader, WantsHeader(flags)},
                      std::pair{kUser, (flags & kFlagUserData) != 0}, std::pair{kEdc, (flags & kFlagEdc) != 0}})
                    if (wanted) {
                        std::memcpy(out, sector + part.from, part.bytes);
                        out += part.bytes;
                    }
            }
            if (format.sub == SubData::None)
                continue;
            if (!disc->ReadSubchannel(s, raw))
                return Check(kUnrecoveredRead, done);
            if (format.sub == SubData::Raw) {
                std::memcpy(out, raw, kSubBytes);
                out += kSubBytes;
            } else if (format.sub == SubData::Rw) {
                GetRw(raw, out);
                deinterleaver.Deinterleave(out, 4);
                for (std::size_t p = 0; p < 4; ++p) // de-interleaved and corrected, as page 2A says
                    CorrectCdgPack(out + p * kCdgPackSymbols);
                out += kSubBytes;
            } else {
                std::uint8_t q[kQFrameBytes];
                ExtractQ(raw, q);
                FormattedQ16(q, out, format.sub == SubData::BinaryQ);
                out += kFormattedQBytes;
            }
        }
        return Good(static_cast<std::size_t>(out - r.buffer));
    }

    // The Q of a sector in binary: from the sub-channel when it holds a good position
    // frame there, else made from the table of contents.
    QPosition QAt(std::int64_t lba) const
    {
        std::uint8_t raw[kSubBytes], q[kQFrameBytes];
        QPosition position;
        if (disc->ReadSubchannel(lba, raw)) {
            ExtractQ(raw, q);
            if (DecodeQ(q, position))
                return position;
        }
        disc->MakeQ(lba, q);
        DecodeQ(q, position);
        return position;
    }

    // ---- commands ----

    CommandResult TestUnitReady(const Request&) { return Good(); }

    CommandResult RequestSense(const Request& r)
    {
        std::vector<std::uint8_t> data(18, 0);
        data[0] = 0x70; // current error, fixed format
        data[2] = lastSense.key;
        data[7] = 10;
        data[12] = lastSense.asc;
        data[13] = lastSense.ascq;
        lastSense = {};
        return Reply(r, data, r[4]);
    }

    CommandResult Inquiry(const Request& r)
    {
        if ((r[1] & 0x01) || r[2] != 0)
            return Check(kInvalidField); // no vital product data pages
        std::vector<std::uint8_t> data(36, ' ');
        std::fill_n(data.begin(), 8, 0);
        data[0] = 0x05; // CD/DVD device
        data[1] = 0x80; // removable medium
        data[2] = static_cast<std::uint8_t>(options.ansi & 7);
        data[3] = options.ansi == 0 ? 0x21 : 0x02; // response data format 2 (ATAPI: version 2 too)
        data[4] = static_cast<std::uint8_t>(data.size() - 5);
        std::copy(options.vendor.begin(), options.vendor.end(), data.begin() + 8);
        std::copy(options.product.begin(), options.product.end(), data.begin() + 16);
        std::copy(options.revision.begin(), options.revision.end(), data.begin() + 32);
        return Reply(r, data, Be16(r.cdb + 3));
    }

    CommandResult StartStopUnit(const Request& r)
    {
        if (r[4] >> 4 != 0)
            return Good(); // a power condition: nothing to do
        const bool start = r[4] & 0x01, loadEject = r[4] & 0x02;
        if (!loadEject) {
            if (!start)
                StopPlay();
            return start && !Loaded() ? Check(kMediumNotPresent) : Good();
        }
        if (!start) {
            if (locked)
                return Check(kRemovalPrevented);
            OpenTray();
        } else if (trayOpen) {
            trayOpen = false;
            head = 0;
            if (disc)
                events.push_back(true);
        }
        return Good();
    }

    CommandResult PreventAllow(const Request& r)
    {
        locked = r[4] & 0x01;
        return Good();
    }

    CommandResult ReadToc(const Request& r)
    {
        if (disc->tracks.empty() || disc->sessions.empty())
            return Check(kTocUnreadable);
        int format = r[2] & 0x0F;
        if (format == 0 && r[9] >> 6 != 0)
            format = r[9] >> 6; // the old form: format in the control byte
        std::vector<std::uint8_t> data(4, 0);
        switch (format) {
        case 0:
            if (!TocFormat0(data, r[6], r[1] & 0x02))
                return Check(kInvalidField);
            break;
        case 2:
            if (!FullToc(data, r[6]))
                return Check(kInvalidField);
            break;
        case 5:
            if (options.noCdText || cdText.empty())
                return Check(kInvalidField);
            data.resize(4 + cdText.size());
            std::copy(cdText.begin(), cdText.end(), data.begin() + 4);
            break;
        default:
            return Check(kInvalidField);
        }
        PutBe16(data.data(), static_cast<std::uint32_t>(data.size() - 2));
        return Reply(r, data, Be16(r.cdb + 7));
    }

    bool TocFormat0(std::vector<std::uint8_t>& data, std::uint8_t from, bool msf) const
    {
        const int first = disc->tracks.front().number, last = disc->tracks.back().number;
        if (from > last && from != kLeadOutTrack)
            return false;
        data[2] = static_cast<std::uint8_t>(first);
        data[3] = static_cast<std::uint8_t>(last);
        auto add = [&](std::uint8_t control, int number, std::int64_t lba) {
            const std::uint8_t d[4] = {0, static_cast<std::uint8_t>(0x10 | control), static_cast<std::uint8_t>(number),
                                       0};
            data.insert(data.end(), d, d + 4);
            data.resize(data.size() + 4);
            PutAddress(data.data() + data.size() - 4, lba, msf);
        };
        if (from != kLeadOutTrack)
            for (const Track& track : disc->tracks)
                if (track.number >= from)
                    add(track.Control(), track.number, track.start);
        add(disc->tracks.back().Control(), kLeadOutTrack, disc->LeadOut());
        return true;
    }

    bool FullToc(std::vector<std::uint8_t>& data, std::uint8_t fromSession) const
    {
        const auto& sessions = disc->sessions;
        if (fromSession > sessions.back().number)
            return false;
        data[2] = static_cast<std::uint8_t>(sessions.front().number);
        data[3] = static_cast<std::uint8_t>(sessions.back().number);
        const bool bcd = options.bcdFullToc;
        auto bcdIf = [bcd](int value) { return bcd ? BinToBcd(static_cast<unsigned>(value)) : std::uint8_t(value); };
        // session, ADR/control, TNO 0, POINT, MIN SEC FRAME, zero, PMIN PSEC PFRAME
        auto add = [&](const Session& session, std::uint8_t adrControl, std::uint8_t point) {
            data.insert(data.end(),
                        {static_cast<std::uint8_t>(session.number), adrControl, 0, point, 0, 0, 0, 0, 0, 0, 0});
            return data.data() + data.size() - 11;
        };
        for (const Session& session : sessions) {
            if (session.number < fromSession)
                continue;
            const Track* first = disc->FindTrack(session.firstTrack);
            const Track* last = disc->FindTrack(session.lastTrack);
            const std::uint8_t firstControl = first ? first->Control() : 0, lastControl = last ? last->Control() : 0;
            add(session, 0x10 | firstControl, 0xA0)[8] = bcdIf(session.firstTrack); // PSEC 0: CD-DA or CD-ROM
            add(session, 0x10 | lastControl, 0xA1)[8] = bcdIf(session.lastTrack);
            PutMsf(add(session, 0x10 | lastControl, 0xA2) + 8, session.leadOut + kLeadInFrames, bcd);
            for (const Track& track : disc->tracks)
                if (track.session == session.number)
                    PutMsf(add(session, 0x10 | track.Control(), bcdIf(track.number)) + 8, track.start + kLeadInFrames,
                           bcd);
            if (sessions.size() < 2)
                continue;
            if (&session != &sessions.back()) {
                // B0: where the next session's program area starts, how many ADR 5
                // pointers this session has, and the latest possible lead-out.
                std::uint8_t* b0 = add(session, 0x50 | lastControl, 0xB0);
                PutMsf(b0 + 4, session.leadOut + kSessionGapSectors + kLeadInFrames, bcd);
                b0[7] = &session == &sessions.front() ? 2 : 1;
                PutMsf(b0 + 8, kMaxLeadOutFrames, bcd);
            }
            if (&session == &sessions.front()) // C0: the start of the disc's first lead-in
                PutMsf(add(session, 0x50 | firstControl, 0xC0) + 8, kFirstLeadInFrames, bcd);
        }
        return true;
    }

    static SubData ReadCdSub(std::uint8_t selection, bool plextor, bool& ok)
    {
        ok = true;
        switch (selection & 7) {
        case 0:
            return SubData::None;
        case 1:
            return SubData::Raw;
        case 2:
            return plextor ? SubData::BinaryQ : SubData::Q;
        case 4:
            return SubData::Rw;
        default:
            ok = false;
            return SubData::None;
        }
    }

    CommandResult ReadCdCommon(const Request& r, std::int64_t lba, std::int64_t count)
    {
        bool ok = false;
        const SubData sub = ReadCdSub(r[10], options.plextorQ, ok);
        if (!ok)
            return Check(kInvalidField);
        return ReadSectors(r, lba, count, {MainData::ByFlags, sub, r[9], static_cast<std::uint8_t>(r[1] >> 2 & 7)});
    }

    CommandResult ReadCd(const Request& r)
    {
        return ReadCdCommon(r, static_cast<std::int32_t>(Be32(r.cdb + 2)), Be24(r.cdb + 6));
    }

    CommandResult ReadCdMsf(const Request& r)
    {
        const std::int64_t start = MsfFrames(r.cdb + 3), end = MsfFrames(r.cdb + 6);
        if (end < start)
            return Check(kInvalidField);
        return ReadCdCommon(r, start - kLeadInFrames, end - start);
    }

    CommandResult ReadCddaCommon(const Request& r, std::int64_t lba, std::int64_t count)
    {
        static constexpr ReadFormat kBySubcode[] = {{MainData::Audio, SubData::None},
                                                    {MainData::Audio, SubData::Q},
                                                    {MainData::Audio, SubData::Raw},
                                                    {MainData::None, SubData::Raw}};
        if (r[10] >= std::size(kBySubcode))
            return Check(kInvalidField);
        return ReadSectors(r, lba, count, kBySubcode[r[10]]);
    }

    CommandResult ReadCdda(const Request& r)
    {
        return ReadCddaCommon(r, static_cast<std::int32_t>(Be32(r.cdb + 2)), Be32(r.cdb + 6));
    }

    CommandResult ReadCddaMsf(const Request& r)
    {
        const std::int64_t start = MsfFrames(r.cdb + 3), end = MsfFrames(r.cdb + 7);
        if (end < start)
            return Check(kInvalidField);
        return ReadCddaCommon(r, start - kLeadInFrames, end - start);
    }

    CommandResult Read10(const Request& r)
    {
        ReadFormat format{MainData::UserData};
        if (density == kDensityCdda)
            format = {MainData::Audio, blockLength == 2368   ? SubData::Q
                                       : blockLength == 2448 ? SubData::Raw
                                                             : SubData::None};
        return ReadSectors(r, static_cast<std::int32_t>(Be32(r.cdb + 2)), Be16(r.cdb + 7), format);
    }

    CommandResult PlayAudioMsf(const Request& r)
    {
        const bool fromHere = r[3] == 0xFF && r[4] == 0xFF && r[5] == 0xFF;
        const std::int64_t start = fromHere ? head : MsfFrames(r.cdb + 3) - kLeadInFrames;
        return StartPlay(start, MsfFrames(r.cdb + 6) - kLeadInFrames);
    }

    CommandResult PlayAudio12(const Request& r)
    {
        const std::int64_t start = static_cast<std::int32_t>(Be32(r.cdb + 2));
        return StartPlay(start, start + Be32(r.cdb + 6));
    }

    CommandResult PauseResume(const Request& r)
    {
        const bool resume = r[8] & 0x01;
        if (play.status == (resume ? audio_status::kPlaying : audio_status::kPaused))
            return Good();
        if (play.status != (resume ? audio_status::kPaused : audio_status::kPlaying))
            return Check(kSequenceError); // no play to pause or resume
        play.status = resume ? audio_status::kPlaying : audio_status::kPaused;
        if (resume) {
            play.originSample = play.position;
            play.originMs = clock();
        }
        return Good();
    }

    CommandResult StopPlayScan(const Request&)
    {
        StopPlay();
        return Good();
    }

    CommandResult ReadSubChannel(const Request& r)
    {
        const bool msf = r[1] & 0x02, subQ = r[2] & 0x40;
        if (subQ && r[3] != 1)
            return Check(kInvalidField); // only the current position
        std::vector<std::uint8_t> data(subQ ? 16 : 4, 0);
        data[1] = TakeStatus();
        if (subQ) {
            const QPosition q = QAt(head);
            data[3] = 12;
            data[4] = 1;
            data[5] = static_cast<std::uint8_t>(q.adr << 4 | q.control);
            data[6] = q.track;
            data[7] = q.index;
            if (msf) {
                PutMsf(data.data() + 9, q.absoluteFrames);
                PutMsf(data.data() + 13, q.relativeFrames < 0 ? -q.relativeFrames : q.relativeFrames);
            } else {
                PutBe32(data.data() + 8,
                        static_cast<std::uint32_t>(static_cast<std::int32_t>(q.absoluteFrames - kLeadInFrames)));
                PutBe32(data.data() + 12, static_cast<std::uint32_t>(static_cast<std::int32_t>(q.relativeFrames)));
            }
        }
        return Reply(r, data, Be16(r.cdb + 7));
    }

    CommandResult Seek(const Request& r)
    {
        const std::int64_t lba = static_cast<std::int32_t>(Be32(r.cdb + 2));
        if (lba < 0 || lba >= disc->LeadOut() + options.overread)
            return Check(kLbaOutOfRange);
        StopPlay();
        head = lba;
        return Good();
    }

    CommandResult SetCdSpeed(const Request& r)
    {
        if (options.ignoreSpeed)
            return Good();
        const std::uint32_t asked = Be16(r.cdb + 2); // FFFF: as fast as it goes
        const auto above = std::upper_bound(options.speeds.begin(), options.speeds.end(), asked);
        readSpeed = above == options.speeds.begin() ? options.speeds.front() : *std::prev(above);
        return Good();
    }

    // ---- mode pages ----

    // pageControl: 0 current values, 1 the changeable bits, 2 the defaults.
    void AudioControlPage(std::vector<std::uint8_t>& data, int pageControl) const
    {
        const std::array<Port, 4>& values = pageControl == 2 ? kDefaultPorts : ports;
        std::uint8_t page[16] = {0x0E, 14, static_cast<std::uint8_t>(pageControl == 1 ? 0 : 0x04)}; // Immed set
        for (std::size_t i = 0; i < values.size(); ++i) {
            page[8 + 2 * i] = pageControl == 1 ? 0x0F : values[i].select;
            page[9 + 2 * i] = pageControl == 1 ? 0xFF : values[i].volume;
        }
        data.insert(data.end(), std::begin(page), std::end(page));
    }

    void CapabilitiesPage(std::vector<std::uint8_t>& data, int pageControl) const
    {
        std::uint8_t page[22] = {0x2A, 20};
        if (pageControl != 1) {
            page[4] = 0x41; // audio play, multi-session
            page[5] = 0x0F; // CD-DA commands, accurate stream, R-W, R-W de-interleaved and corrected
            page[6] = static_cast<std::uint8_t>(0x29 | (locked ? 0x02 : 0)); // tray, eject, lock (state)
            page[7] = 0x03;                                                  // separate volume and mute per channel
            PutBe16(page + 8, static_cast<std::uint32_t>(options.speeds.back()));
            PutBe16(page + 10, 256); // volume levels
            PutBe16(page + 12, 512); // buffer, kB
            PutBe16(page + 14, static_cast<std::uint32_t>(pageControl == 2 ? options.speeds.back() : readSpeed));
        }
        data.insert(data.end(), std::begin(page), std::end(page));
    }

    CommandResult ModeSense(const Request& r)
    {
        const bool six = r[0] == 0x1A;
        const int pageControl = r[2] >> 6, page = r[2] & 0x3F;
        if (pageControl == 3)
            return Check(kSavingNotSupported);
        if (page != 0x0E && page != 0x2A && page != 0x3F)
            return Check(kInvalidField);
        std::vector<std::uint8_t> data(six ? 4 : 8, 0);
        if (!(r[1] & 0x08)) { // one block descriptor unless DBD
            data[six ? 3 : 7] = 8;
            data.insert(data.end(),
                        {density, 0, 0, 0, 0, static_cast<std::uint8_t>(blockLength >> 16),
                         static_cast<std::uint8_t>(blockLength >> 8), static_cast<std::uint8_t>(blockLength)});
        }
        if (page != 0x2A)
            AudioControlPage(data, pageControl);
        if (page != 0x0E)
            CapabilitiesPage(data, pageControl);
        if (six)
            data[0] = static_cast<std::uint8_t>(data.size() - 1);
        else
            PutBe16(data.data(), static_cast<std::uint32_t>(data.size() - 2));
        return Reply(r, data, six ? r[4] : Be16(r.cdb + 7));
    }

    CommandResult ModeSelect(const Request& r)
    {
        const bool six = r[0] == 0x15;
        if (r[1] & 0x01)
            return Check(kSavingNotSupported);
        const std::size_t length = six ? r[4] : Be16(r.cdb + 7);
        if (length == 0)
            return Good();
        if (r.direction != Direction::Out || !r.buffer || r.length < length)
            return Check(kInvalidField);
        const std::uint8_t* p = r.buffer;
        const std::size_t header = six ? 4 : 8;
        if (length < header)
            return Check(kParameterLength);
        const std::size_t descriptors = six ? p[3] : Be16(p + 6);
        if (header + descriptors > length)
            return Check(kParameterLength);
        if (descriptors % 8 != 0)
            return Check(kInvalidParameter);
        std::uint8_t newDensity = density;
        std::uint32_t newBlock = blockLength;
        if (descriptors > 0) {
            newDensity = p[header];
            newBlock = Be24(p + header + 5);
            const bool cdda = newDensity == kDensityCdda && (options.families & family::kToshiba) &&
                              (newBlock == 2352 || newBlock == 2368 || newBlock == 2448);
            if (!cdda && !(newDensity == 0 && newBlock == kDataBlock))
                return Check(kInvalidParameter);
        }
        std::array<Port, 4> newPorts = ports;
        for (std::size_t at = header + descriptors; at < length;) {
            if (at + 2 > length || at + 2 + p[at + 1] > length)
                return Check(kParameterLength);
            if ((p[at] & 0x3F) != 0x0E || p[at + 1] < 14)
                return Check(kInvalidParameter); // only the audio control page can be changed
            for (std::size_t i = 0; i < newPorts.size(); ++i)
                newPorts[i] = {static_cast<std::uint8_t>(p[at + 8 + 2 * i] & 0x0F), p[at + 9 + 2 * i]};
            at += 2 + p[at + 1];
        }
        density = newDensity;
        blockLength = newBlock;
        ports = newPorts;
        return Good(length);
    }

    // Raw P-W of the sectors from the play position on (the analog engine's CD+G source).
    CommandResult ReadSubCode(const Request& r)
    {
        const std::uint64_t count = Be32(r.cdb + 6);
        if (count * kSubBytes > r.Room())
            return Check(kInvalidField);
        for (std::uint64_t i = 0; i < count; ++i)
            if (!disc->ReadSubchannel(head + static_cast<std::int64_t>(i), r.buffer + i * kSubBytes))
                return Check(kUnrecoveredRead, i * kSubBytes);
        return Good(count * kSubBytes);
    }
};

const VirtualDrive::Impl::Command* VirtualDrive::Impl::Find(std::uint8_t opcode)
{
    static constexpr Command kCommands[] = {
        {0x00, 6, 0, true, false, &Impl::TestUnitReady},
        {0x03, 6, 0, false, false, &Impl::RequestSense},
        {0x12, 6, 0, false, false, &Impl::Inquiry},
        {0x15, 6, 0, false, false, &Impl::ModeSelect},
        {0x1A, 6, 0, false, false, &Impl::ModeSense},
        {0x1B, 6, 0, false, false, &Impl::StartStopUnit},
        {0x1E, 6, 0, false, false, &Impl::PreventAllow},
        {0x28, 10, 0, true, true, &Impl::Read10},
        {0x2B, 10, 0, true, false, &Impl::Seek},
        {0x42, 10, 0, true, false, &Impl::ReadSubChannel},
        {0x43, 10, 0, true, false, &Impl::ReadToc},
        {0x47, 10, 0, true, false, &Impl::PlayAudioMsf},
        {0x4B, 10, 0, true, false, &Impl::PauseResume},
        {0x4E, 10, 0, true, false, &Impl::StopPlayScan},
        {0x55, 10, 0, false, false, &Impl::ModeSelect},
        {0x5A, 10, 0, false, false, &Impl::ModeSense},
        {0xA5, 12, 0, true, false, &Impl::PlayAudio12},
        {0xB9, 12, family::kMsf, true, true, &Impl::ReadCdMsf},
        {0xBB, 12, 0, false, false, &Impl::SetCdSpeed},
        {0xBE, 12, family::kMmc, true, true, &Impl::ReadCd},
        {0xD8, 12, family::kSony, true, true, &Impl::ReadCdda},
        {0xD9, 12, family::kSony, true, true, &Impl::ReadCddaMsf},
        {0xDF, 12, family::kDf, true, false, &Impl::ReadSubCode},
    };
    const auto* found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                     [opcode](const Command& c) { return c.opcode == opcode; });
    return found == std::end(kCommands) ? nullptr : found;
}

VirtualDrive::VirtualDrive(DriveOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

VirtualDrive::~VirtualDrive() = default;

void VirtualDrive::Raise(const std::vector<bool>& events)
{
    if (OnMediaChange)
        for (const bool inserted : events)
            OnMediaChange(inserted);
}

void VirtualDrive::Insert(std::shared_ptr<const Disc> disc)
{
    std::vector<std::uint8_t> text = disc ? CdTextOf(*disc) : std::vector<std::uint8_t>{};
    std::vector<bool> events;
    {
        std::scoped_lock lock(impl_->mutex);
        impl_->Load(std::move(disc), std::move(text));
        events.swap(impl_->events);
    }
    Raise(events);
}

void VirtualDrive::Remove()
{
    Insert(nullptr);
}

bool VirtualDrive::HasDisc() const
{
    std::scoped_lock lock(impl_->mutex);
    return impl_->Loaded();
}

bool VirtualDrive::TrayOpen() const
{
    std::scoped_lock lock(impl_->mutex);
    return impl_->trayOpen;
}

CommandResult VirtualDrive::Execute(const std::uint8_t* cdb, std::size_t cdbLength, Direction direction,
                                    std::uint8_t* buffer, std::size_t length)
{
    const Request request{cdb, cdbLength, direction, buffer, buffer ? length : 0};
    CommandResult result;
    std::vector<bool> events;
    Sleep sleep;
    {
        std::scoped_lock lock(impl_->mutex);
        result = impl_->Run(request);
        if (!cdb || cdbLength == 0 || cdb[0] != 0x03)
            impl_->lastSense = result.sense;
        events.swap(impl_->events);
        const Impl::Command* command = cdb && cdbLength > 0 ? Impl::Find(cdb[0]) : nullptr;
        if (command && command->read && impl_->options.delayMs > 0)
            sleep = impl_->sleep;
    }
    if (sleep) // a slow drive: the data comes late, while other commands may go on
        sleep(impl_->options.delayMs);
    Raise(events);
    return result;
}

void VirtualDrive::SetLineOut(ILineOut* lineOut)
{
    std::scoped_lock lock(impl_->lineOutMutex, impl_->mutex);
    impl_->lineOut = lineOut;
    impl_->unheard.clear();
}

void VirtualDrive::AdvanceLineOut()
{
    std::vector<bool> events;
    {
        std::scoped_lock out(impl_->lineOutMutex);
        std::deque<std::pair<std::int64_t, std::int64_t>> played;
        std::shared_ptr<const Disc> disc;
        std::array<Port, 4> ports;
        {
            std::scoped_lock lock(impl_->mutex);
            impl_->UpdatePlay();
            played.swap(impl_->unheard);
            disc = impl_->disc;
            ports = impl_->ports;
            events.swap(impl_->events);
        }
        if (ILineOut* const sink = impl_->lineOut; sink && disc) // stable while lineOutMutex is held
            for (const auto& [from, to] : played)
                PlayOut(*disc, ports, from, to, *sink);
    }
    Raise(events);
}

void VirtualDrive::SetClock(Clock clock)
{
    std::scoped_lock lock(impl_->mutex);
    impl_->clock = clock ? std::move(clock) : Clock(SteadyMilliseconds);
}

void VirtualDrive::SetSleep(Sleep sleep)
{
    std::scoped_lock lock(impl_->mutex);
    impl_->sleep = std::move(sleep);
}

const DriveOptions& VirtualDrive::Options() const
{
    return impl_->options;
}

} // namespace vantrel::vdrive
