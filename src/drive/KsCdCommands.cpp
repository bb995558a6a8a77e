#include "drive/KsCdCommands.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <string>

namespace vantrel {
namespace {

constexpr std::uint8_t kAudioControlPage = 0x0E, kCapabilitiesPage = 0x2A;
constexpr std::size_t kCapabilitiesLength = 255;
constexpr std::size_t kInquiryLength = 100;
constexpr std::uint8_t kLeadOutTrack = 0xAA, kLeadOutNumber = 170;

std::uint8_t LunBits(std::uint8_t lun)
{
    return static_cast<std::uint8_t>((lun & 7) << 5);
}

std::uint32_t Be16(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 8 | p[1];
}
std::uint32_t Be32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | Be16(p + 2);
}
void PutBe16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void PutBe24(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 16);
    PutBe16(p + 1, v);
}
void PutBe32(std::uint8_t* p, std::uint32_t v)
{
    PutBe16(p, v >> 16);
    PutBe16(p + 2, v);
}
void PutMsf(std::uint8_t* p, TCdAddress a)
{
    p[0] = a.minute;
    p[1] = a.second;
    p[2] = a.frame;
}

TScsiCommand Command(std::uint8_t cdbLength, std::uint8_t opcode, std::uint8_t byte1,
                     ScsiDirection direction = ScsiDirection::None, std::size_t length = 0)
{
    TScsiCommand c;
    c.cdbLength = cdbLength;
    c.cdb[0] = opcode;
    c.cdb[1] = byte1;
    c.direction = direction;
    c.length = length;
    return c;
}

// The extra bytes per sector of each READ CD sub-channel selection; -1: refused.
int ReadCdSubBytes(std::uint8_t selection)
{
    switch (selection) {
    case 0:
        return 0;
    case 1:
    case 4:
        return static_cast<int>(kSubChannelBytes);
    case 2:
        return static_cast<int>(kFormattedQ);
    default:
        return -1;
    }
}

// Bytes per sector of each READ CDDA sub-code; 0: refused.
std::uint32_t ReadCddaSectorBytes(std::uint8_t subCode)
{
    constexpr std::uint32_t kBytes[] = {kAudioSector, kAudioQSector, kAudioSubSector, kSubChannelBytes};
    return subCode < std::size(kBytes) ? kBytes[subCode] : 0;
}

// An MSF range must fit the address bytes, or the end would be clamped to a wrong place.
bool MsfRangeFits(std::int64_t startFrames, std::uint32_t count)
{
    return startFrames >= 0 && startFrames + count <= kMaxAddressFrames;
}

std::uint8_t* Bytes(TKsParagraphBoundaryBuffer& buffer)
{
    return reinterpret_cast<std::uint8_t*>(buffer.Data());
}

// Sends a data-in command into a fresh zeroed aligned buffer of its transfer length.
bool Fetch(IScsiTransport& transport, const TKsCdRom& drive, const TScsiCommand& command,
           TKsParagraphBoundaryBuffer& buffer)
{
    buffer = TKsParagraphBoundaryBuffer(command.length);
    if (buffer.Size() < command.length)
        return false;
    if (!buffer.Empty())
        std::memset(buffer.Data(), 0, buffer.Size());
    return Send(transport, drive, command, Bytes(buffer));
}

TCdAddress Msf(const std::uint8_t* p)
{
    return TCdAddress{0, p[0], p[1], p[2]};
}

// The four flags of a track entry from the control nibble; all 0 unless ADR is 1.
void SetFlags(TCdTrackEntry& entry, std::uint8_t adrControl)
{
    const std::uint8_t control = (adrControl >> 4) == 1 ? adrControl & 0x0F : 0;
    entry.preEmphasis = control & 1;
    entry.copyPermitted = control >> 1 & 1;
    entry.dataTrack = control >> 2 & 1;
    entry.fourChannel = control >> 3 & 1;
}

// A full TOC descriptor from a drive that reports it in BCD. A0 and A1 carry a track
// number in PMIN; A2 and C0 an address; B0 two addresses; every other POINT is a track
// number with its address.
void CorrectBcd(std::uint8_t* d)
{
    auto convert = [d](std::initializer_list<int> bytes) {
        for (const int i : bytes)
            d[i] = BcdToBin(d[i]);
    };
    switch (d[3]) {
    case 0xA0:
    case 0xA1:
        convert({8});
        break;
    case 0xA2:
    case 0xC0:
        convert({8, 9, 10});
        break;
    case 0xB0:
        convert({4, 5, 6, 8, 9, 10});
        break;
    default:
        convert({3, 8, 9, 10});
        break;
    }
}

std::string TrimmedUpper(std::string text)
{
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// A formatted Q (READ CDDA sub-code 1, READ CD selection 2) as a Q record. Position frames
// (ADR 1) are BCD, or binary where the drive delivers them so; others keep their bytes.
bool FormattedQToRecord(const std::uint8_t* q, bool binary, TQRecord& record)
{
    record[0] = q[0];
    if ((q[0] & 0x0F) == 1) {
        for (const int i : {1, 2, 3, 4, 5, 7, 8, 9})
            record[i] = binary ? q[i] : BcdToBin(q[i]);
        if (binary ? q[1] == 110 : q[1] == kLeadOutTrack) // the binary form reads AA hex as 110
            record[1] = kLeadOutNumber;
    } else {
        std::copy(q + 1, q + 9, record.begin() + 1);
        record[9] = BcdToBin(q[9]);
    }
    return record[0] != 0;
}

// Senses the audio control page, lets change() edit it and selects it back.
template <typename Change>
bool ChangeAudioControlPage(IScsiTransport& transport, const TKsCdRom& drive, int cmdType, Change change)
{
    const bool ten = UsesTenByteModeCommands(drive, cmdType);
    const std::size_t header = ten ? 8 : 4;
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive,
               cdb::ModeSense(drive.Lun, ten, kAudioControlPage, static_cast<std::uint16_t>(header + 24)), buffer))
        return false;
    std::uint8_t* b = Bytes(buffer);
    const std::size_t page = header + (ten ? Be16(b + 6) : b[3]);
    const std::size_t parameterLength = ten ? Be16(b) + 2 : b[0] + 1u;
    // Never select bytes that were not sensed.
    if (page + 12 > buffer.Size() || parameterLength > buffer.Size())
        return false;
    std::fill_n(b, ten ? 2 : 1, 0); // the mode data length is reserved in MODE SELECT
    b[page] &= 0x7F;                // and so is PS
    change(b + page);
    return Send(transport, drive, cdb::ModeSelect(drive.Lun, ten, static_cast<std::uint16_t>(parameterLength)), b);
}

} // namespace

// ---- command descriptions ----

namespace cdb {

TScsiCommand Inquiry()
{
    TScsiCommand c = Command(6, 0x12, 0, ScsiDirection::In, kInquiryLength);
    c.cdb[4] = kInquiryLength;
    return c;
}

TScsiCommand TestUnitReady(std::uint8_t lun)
{
    return Command(6, 0x00, LunBits(lun));
}

TScsiCommand StartStopUnit(std::uint8_t loadEject)
{
    TScsiCommand c = Command(6, 0x1B, 0x01);
    c.cdb[4] = loadEject;
    return c;
}

TScsiCommand StopUnit(std::uint8_t lun)
{
    return Command(6, 0x1B, LunBits(lun) | 0x01);
}

TScsiCommand PreventAllow(std::uint8_t lun, bool lock)
{
    TScsiCommand c = Command(6, 0x1E, LunBits(lun));
    c.cdb[4] = lock ? 1 : 0;
    return c;
}

TScsiCommand ReadTocNormal()
{
    TScsiCommand c = Command(10, 0x43, 0x02, ScsiDirection::In, 804);
    PutBe16(&c.cdb[7], 804);
    return c;
}

TScsiCommand ReadTocAdvancedOld()
{
    TScsiCommand c = Command(10, 0x43, 0x00, ScsiDirection::In, 2820);
    c.cdb[6] = 1;
    PutBe16(&c.cdb[7], 2820);
    c.cdb[9] = 0x80; // format 2 in the control byte
    return c;
}

TScsiCommand ReadTocAdvanced()
{
    TScsiCommand c = Command(10, 0x43, 0x00, ScsiDirection::In, 2820);
    c.cdb[2] = 2;
    c.cdb[6] = 1;
    PutBe16(&c.cdb[7], 2820);
    return c;
}

TScsiCommand ReadTocCdText(std::uint16_t length)
{
    TScsiCommand c = Command(10, 0x43, 0x00, ScsiDirection::In, length);
    c.cdb[2] = 5;
    c.cdb[6] = 1;
    PutBe16(&c.cdb[7], length);
    return c;
}

TScsiCommand PlayAudio12(std::uint8_t lun, std::int32_t lba, std::uint32_t frames)
{
    TScsiCommand c = Command(12, 0xA5, LunBits(lun));
    PutBe32(&c.cdb[2], static_cast<std::uint32_t>(lba));
    PutBe32(&c.cdb[6], frames);
    return c;
}

TScsiCommand PlayAudioMsf(std::uint8_t lun, TCdAddress start, TCdAddress end)
{
    TScsiCommand c = Command(10, 0x47, LunBits(lun));
    PutMsf(&c.cdb[3], start);
    PutMsf(&c.cdb[6], end);
    return c;
}

TScsiCommand StopPlayScan(std::uint8_t lun)
{
    return Command(10, 0x4E, LunBits(lun));
}

TScsiCommand PauseResume(std::uint8_t lun, bool resume)
{
    TScsiCommand c = Command(10, 0x4B, LunBits(lun));
    c.cdb[8] = resume ? 1 : 0;
    return c;
}

TScsiCommand ReadSubChannel(std::uint8_t lun, std::uint32_t timeoutMs)
{
    TScsiCommand c = Command(10, 0x42, LunBits(lun) | 0x02, ScsiDirection::In, 16);
    c.cdb[2] = 0x40; // sub-channel data
    c.cdb[3] = 1;    // current position
    PutBe16(&c.cdb[7], 16);
    c.timeoutMs = timeoutMs;
    return c;
}

TScsiCommand Seek10(std::uint8_t lun, std::int32_t lba)
{
    TScsiCommand c = Command(10, 0x2B, LunBits(lun));
    PutBe32(&c.cdb[2], static_cast<std::uint32_t>(lba));
    return c;
}

std::optional<TScsiCommand> ReadCdGeneral(std::uint8_t lun, std::uint8_t sectorTypeBits, std::int32_t lba,
                                          std::uint32_t count, std::uint8_t flags, std::uint8_t selection)
{
    const int sub = ReadCdSubBytes(selection);
    if (sub < 0 || count > 0xFFFF)
        return std::nullopt;
    const std::size_t sector = (flags & 0x10 ? kAudioSector : 0) + static_cast<std::size_t>(sub);
    TScsiCommand c = Command(12, 0xBE, LunBits(lun) | sectorTypeBits, ScsiDirection::In, count * sector);
    PutBe32(&c.cdb[2], static_cast<std::uint32_t>(lba));
    PutBe16(&c.cdb[7], count);
    c.cdb[9] = flags;
    c.cdb[10] = selection;
    return c;
}

std::optional<TScsiCommand> ReadCd(std::uint8_t lun, std::int32_t lba, std::uint32_t count, std::uint8_t selection)
{
    return ReadCdGeneral(lun, 0, lba, count, 0x10, selection);
}

std::optional<TScsiCommand> ReadCdMsf(std::uint8_t lun, std::int64_t startFrames, std::uint32_t count,
                                      std::uint8_t selection)
{
    const int sub = ReadCdSubBytes(selection);
    if (sub < 0 || !MsfRangeFits(startFrames, count))
        return std::nullopt;
    TScsiCommand c = Command(12, 0xB9, LunBits(lun), ScsiDirection::In,
                             std::size_t{count} * (kAudioSector + static_cast<std::size_t>(sub)));
    PutMsf(&c.cdb[3], FramesToCdAddress(startFrames));
    PutMsf(&c.cdb[6], FramesToCdAddress(startFrames + count));
    c.cdb[9] = 0x10;
    c.cdb[10] = selection;
    return c;
}

std::optional<TScsiCommand> ReadCdda(std::uint8_t lun, std::int32_t lba, std::uint32_t count, std::uint8_t subCode)
{
    const std::uint32_t sector = ReadCddaSectorBytes(subCode);
    if (sector == 0)
        return std::nullopt;
    TScsiCommand c = Command(12, 0xD8, LunBits(lun), ScsiDirection::In, std::size_t{count} * sector);
    PutBe32(&c.cdb[2], static_cast<std::uint32_t>(lba));
    PutBe32(&c.cdb[6], count);
    c.cdb[10] = subCode;
    return c;
}

std::optional<TScsiCommand> ReadCddaMsf(std::uint8_t lun, std::int64_t startFrames, std::uint32_t count,
                                        std::uint8_t subCode)
{
    const std::uint32_t sector = ReadCddaSectorBytes(subCode);
    if (sector == 0 || !MsfRangeFits(startFrames, count))
        return std::nullopt;
    TScsiCommand c = Command(12, 0xD9, LunBits(lun), ScsiDirection::In, std::size_t{count} * sector);
    PutMsf(&c.cdb[3], FramesToCdAddress(startFrames));
    PutMsf(&c.cdb[7], FramesToCdAddress(startFrames + count));
    c.cdb[10] = subCode;
    return c;
}

std::optional<TScsiCommand> Read10(std::uint8_t lun, std::int32_t lba, std::uint32_t count, std::uint32_t sectorSize)
{
    if (count > 0xFFFF)
        return std::nullopt;
    TScsiCommand c = Command(10, 0x28, LunBits(lun), ScsiDirection::In, std::size_t{count} * sectorSize);
    PutBe32(&c.cdb[2], static_cast<std::uint32_t>(lba));
    PutBe16(&c.cdb[7], count);
    return c;
}

TScsiCommand ReadSubCode(std::uint8_t lun, std::uint32_t count)
{
    TScsiCommand c = Command(12, 0xDF, LunBits(lun), ScsiDirection::In, std::size_t{count} * kSubChannelBytes);
    PutBe32(&c.cdb[6], count);
    return c;
}

TScsiCommand ModeSense(std::uint8_t lun, bool tenByte, std::uint8_t page, std::uint16_t length)
{
    TScsiCommand c = Command(tenByte ? 10 : 6, tenByte ? 0x5A : 0x1A, LunBits(lun), ScsiDirection::In, length);
    c.cdb[2] = page;
    if (tenByte)
        PutBe16(&c.cdb[7], length);
    else
        c.cdb[4] = static_cast<std::uint8_t>(length);
    return c;
}

TScsiCommand ModeSelect(std::uint8_t lun, bool tenByte, std::uint16_t length)
{
    TScsiCommand c = Command(tenByte ? 10 : 6, tenByte ? 0x55 : 0x15, LunBits(lun) | 0x10, ScsiDirection::Out, length);
    if (tenByte)
        PutBe16(&c.cdb[7], length);
    else
        c.cdb[4] = static_cast<std::uint8_t>(length);
    return c;
}

TScsiCommand SetCdSpeed(std::uint8_t lun, std::uint16_t kilobytesPerSecond)
{
    TScsiCommand c = Command(12, 0xBB, LunBits(lun), ScsiDirection::In, 0);
    PutBe16(&c.cdb[2], kilobytesPerSecond);
    c.cdb[4] = c.cdb[5] = 0xFF; // write speed: as fast as it goes
    return c;
}

} // namespace cdb

bool Send(IScsiTransport& transport, const TKsCdRom& drive, const TScsiCommand& command, std::uint8_t* buffer)
{
    const ScsiRequest request{command.cdb.data(), command.cdbLength, command.direction, buffer,
                              command.length,     command.timeoutMs};
    ScsiSense sense;
    return transport.Execute(drive, request, sense);
}

// ---- table of contents and CD-Text ----

bool ReadTocNormal(IScsiTransport& transport, const TKsCdRom& drive, TCdToc& toc)
{
    toc = TCdToc{};
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive, cdb::ReadTocNormal(), buffer))
        return false;
    const std::uint8_t* b = Bytes(buffer);
    const std::size_t answer = std::min<std::size_t>(Be16(b) + 2, buffer.Size());
    const int first = b[2], last = b[3], count = last - first + 1;
    // The tracks and the lead-out descriptor after them must all be there.
    if (first < 1 || last > kMaxTracks || count < 1 || 4 + (count + 1) * 8u > answer)
        return false;
    const auto descriptor = [b](int i) { return b + 4 + 8 * i; };
    toc.firstTrack = static_cast<std::uint8_t>(first);
    toc.lastTrack = static_cast<std::uint8_t>(last);
    toc.trackCount = static_cast<std::uint8_t>(count);
    for (int i = 0; i < count; ++i) {
        TCdTrackEntry& entry = toc.tracks[i];
        entry.start = entry.preGapStart = Msf(descriptor(i) + 5);
        entry.end = entry.endBeforeGap = Msf(descriptor(i + 1) + 5);
        entry.trackNumber = static_cast<std::uint8_t>(first + i);
        SetFlags(entry, descriptor(i)[1]);
    }
    toc.tracks[0].preGapStart = TCdAddress{};
    toc.tracks[count].start = toc.leadOut = Msf(descriptor(count) + 5);
    return true;
}

bool ReadTocAdvanced(IScsiTransport& transport, const TKsCdRom& drive, bool bcd, TCdToc& toc)
{
    toc = TCdToc{};
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive, cdb::ReadTocAdvancedOld(), buffer) &&
        !Fetch(transport, drive, cdb::ReadTocAdvanced(), buffer))
        return false;
    const std::uint8_t* b = Bytes(buffer);
    const std::size_t answer = std::min<std::size_t>(Be16(b) + 2, buffer.Size());
    const int firstSession = b[2], lastSession = b[3], sessionCount = lastSession - firstSession + 1;
    if (sessionCount < 1 || sessionCount > 100)
        return false;

    struct SessionSeen {
        int first = 0, last = 0;
        TCdAddress leadOut;
    };
    SessionSeen sessions[100];
    struct TrackSeen {
        TCdAddress start;
        std::uint8_t session = 0, adrControl = 0;
    };
    TrackSeen tracks[kMaxTracks + 2]; // by number, with room for "the next track" of track 99
    int firstTrack = 0xFF, lastTrack = 0;
    for (std::size_t at = 4; at + 11 <= answer; at += 11) {
        std::uint8_t d[11];
        std::copy_n(b + at, 11, d);
        if (bcd)
            CorrectBcd(d);
        if (d[0] < firstSession || d[0] > lastSession)
            continue;
        SessionSeen& session = sessions[d[0] - firstSession];
        const std::uint8_t point = d[3];
        if (point == 0xA0) {
            session.first = d[8];
            firstTrack = std::min(firstTrack, session.first);
        } else if (point == 0xA1) {
            session.last = d[8];
            lastTrack = std::max(lastTrack, session.last);
        } else if (point == 0xA2) {
            session.leadOut = Msf(d + 8);
        } else if (point >= 1 && point <= kMaxTracks) {
            tracks[point] = TrackSeen{Msf(d + 8), d[0], d[1]};
        }
    }
    if (firstTrack < 1 || lastTrack > kMaxTracks || lastTrack < firstTrack)
        return false;

    toc.firstSession = static_cast<std::uint8_t>(firstSession);
    toc.lastSession = static_cast<std::uint8_t>(lastSession);
    toc.sessionCount = static_cast<std::uint8_t>(sessionCount);
    toc.firstTrack = static_cast<std::uint8_t>(firstTrack);
    toc.lastTrack = static_cast<std::uint8_t>(lastTrack);
    const int count = lastTrack - firstTrack + 1;
    toc.trackCount = static_cast<std::uint8_t>(count);
    for (int i = 0; i < count; ++i) {
        const int number = firstTrack + i;
        TCdTrackEntry& entry = toc.tracks[i];
        entry.start = entry.preGapStart = tracks[number].start;
        entry.end = entry.endBeforeGap = tracks[number + 1].start;
        entry.trackNumber = static_cast<std::uint8_t>(number);
        entry.session = tracks[number].session;
        SetFlags(entry, tracks[number].adrControl);
    }
    for (int e = 0; e < sessionCount; ++e) {
        const SessionSeen& seen = sessions[e];
        TCdSession& record = toc.sessions[e];
        const bool known = seen.first >= firstTrack && seen.first <= seen.last && seen.last <= lastTrack;
        record.start = known ? tracks[seen.first].start : TCdAddress{};
        record.leadOut = seen.leadOut;
        record.firstTrack = static_cast<std::uint8_t>(seen.first);
        record.lastTrack = static_cast<std::uint8_t>(seen.last);
        record.trackCount = static_cast<std::uint8_t>(known ? seen.last - seen.first + 1 : 0);
        record.session = static_cast<std::uint8_t>(firstSession + e);
        if (known) { // a session's last track ends at its lead-out, not at the next session's start
            TCdTrackEntry& last = toc.tracks[seen.last - firstTrack];
            last.end = last.endBeforeGap = seen.leadOut;
        }
    }
    toc.tracks[0].preGapStart = TCdAddress{};
    toc.tracks[count].start = toc.leadOut = toc.tracks[count - 1].end;
    return true;
}

bool ReadCdText(IScsiTransport& transport, const TKsCdRom& drive, std::uint8_t* buffer, std::size_t size,
                std::size_t& length)
{
    length = 0;
    TKsParagraphBoundaryBuffer data;
    if (!Fetch(transport, drive, cdb::ReadTocCdText(4), data))
        return false;
    const std::size_t total = Be16(Bytes(data)) + 2;
    length = total;
    if (total > size || total > 0xFFFF)
        return false;
    if (!Fetch(transport, drive, cdb::ReadTocCdText(static_cast<std::uint16_t>(total)), data))
        return false;
    std::copy_n(Bytes(data), total, buffer);
    return true;
}

// ---- reading sectors ----

TReadFunction ChooseReadFunction(RipMethods method, SubCodeModes subCode)
{
    constexpr std::uint8_t kNotOffered = 0xFF;
    // By method (rows) and sub-code mode (columns): the READ CD selection or READ CDDA
    // sub-code. READ(10) takes no code; the block length set by DENSITY tells.
    constexpr std::uint8_t kCodes[5][4] = {
        {0, 2, 4, 1},           // RipMMC: READ CD
        {0, 2, 4, 1},           // RipMMCMSF: READ CD MSF
        {0, 1, 2, kNotOffered}, // RipSony: READ CDDA
        {0, 1, 2, kNotOffered}, // RipSonyMSF: READ CDDA MSF
        {0, 0, 0, 0},           // RipToshiba: READ(10)
    };
    constexpr std::uint32_t kSizes[4] = {kAudioSector, kAudioQSector, kAudioSubSector, kAudioSubSector};
    TReadFunction f;
    f.method = method <= RipToshiba ? method : RipMMC;
    const std::uint8_t code = subCode <= SubCodeRAW ? kCodes[f.method][subCode] : kNotOffered;
    f.subCode = code == kNotOffered ? SubCodeNo : subCode;
    f.code = code == kNotOffered ? 0 : code;
    f.sectorSize = kSizes[f.subCode];
    return f;
}

bool ReadSectors(IScsiTransport& transport, const TKsCdRom& drive, RipMethods method, SubCodeModes subCode,
                 std::int64_t start, std::uint32_t count, TKsParagraphBoundaryBuffer& buffer)
{
    const TReadFunction f = ChooseReadFunction(method, subCode);
    const std::int32_t lba = FramesToLba(start);
    std::optional<TScsiCommand> command;
    switch (f.method) {
    case RipMMCMSF:
        command = cdb::ReadCdMsf(drive.Lun, start, count, f.code);
        break;
    case RipSony:
        command = cdb::ReadCdda(drive.Lun, lba, count, f.code);
        break;
    case RipSonyMSF:
        command = cdb::ReadCddaMsf(drive.Lun, start, count, f.code);
        break;
    case RipToshiba:
        command = cdb::Read10(drive.Lun, lba, count, f.sectorSize);
        break;
    default:
        command = cdb::ReadCd(drive.Lun, lba, count, f.code);
        break;
    }
    if (!command || buffer.Size() < command->length)
        return false;
    return Send(transport, drive, *command, Bytes(buffer));
}

bool FormatsQInBinary(const TKsCdRom& drive)
{
    return TrimmedUpper(drive.Vendor()) == "PLEXTOR";
}

bool ReadQ(IScsiTransport& transport, const TKsCdRom& drive, int method, std::int64_t frames, TQRecord& record)
{
    record.fill(0);
    const std::int32_t lba = FramesToLba(frames);
    TKsParagraphBoundaryBuffer buffer;
    switch (method) {
    case 1:
        return Fetch(transport, drive, *cdb::ReadCdda(drive.Lun, lba, 1, 1), buffer) &&
               FormattedQToRecord(Bytes(buffer) + kAudioSector, false, record);
    case 2: { // the formatted Q alone: no sync, headers, user data or EDC
        const bool binary = FormatsQInBinary(drive);
        return Fetch(transport, drive, *cdb::ReadCdGeneral(drive.Lun, 0, lba, 1, 0x00, 2), buffer) &&
               FormattedQToRecord(Bytes(buffer), binary, record);
    }
    case 3: {
        if (!Send(transport, drive, cdb::Seek10(drive.Lun, lba), nullptr) ||
            !Fetch(transport, drive, cdb::ReadSubChannel(drive.Lun, kSubChannelAfterSeekMs), buffer))
            return false;
        const std::uint8_t* r = Bytes(buffer);
        record[0] = static_cast<std::uint8_t>(r[5] << 4 | r[5] >> 4); // ADR/control the other way round
        record[1] = r[6];
        record[2] = r[7];
        std::copy_n(r + 13, 3, record.begin() + 3);
        std::copy_n(r + 9, 3, record.begin() + 7);
        return true;
    }
    default:
        return false;
    }
}

bool ReadSubCode(IScsiTransport& transport, const TKsCdRom& drive, std::uint32_t count,
                 TKsParagraphBoundaryBuffer& buffer)
{
    const TScsiCommand command = cdb::ReadSubCode(drive.Lun, count);
    return buffer.Size() >= command.length && Send(transport, drive, command, Bytes(buffer));
}

// ---- analog play ----

bool PlayRange(IScsiTransport& transport, const TKsCdRom& drive, TCdAddress start, TCdAddress end)
{
    if (Send(transport, drive, cdb::PlayAudioMsf(drive.Lun, start, end), nullptr))
        return true;
    const std::int64_t from = AddressToFrames(start), to = AddressToFrames(end);
    return Send(transport, drive,
                cdb::PlayAudio12(drive.Lun, FramesToLba(from),
                                 static_cast<std::uint32_t>(std::max<std::int64_t>(0, to - from))),
                nullptr);
}

bool Stop(IScsiTransport& transport, const TKsCdRom& drive)
{
    return Send(transport, drive, cdb::StopPlayScan(drive.Lun), nullptr) ||
           Send(transport, drive, cdb::StopUnit(drive.Lun), nullptr);
}

bool Pause(IScsiTransport& transport, const TKsCdRom& drive)
{
    return Send(transport, drive, cdb::PauseResume(drive.Lun, false), nullptr);
}

bool Resume(IScsiTransport& transport, const TKsCdRom& drive)
{
    return Send(transport, drive, cdb::PauseResume(drive.Lun, true), nullptr);
}

std::uint8_t AudioStatus(IScsiTransport& transport, const TKsCdRom& drive)
{
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive, cdb::ReadSubChannel(drive.Lun, kSubChannelPollMs), buffer))
        return 0;
    return Bytes(buffer)[1];
}

bool ReadPosition(IScsiTransport& transport, const TKsCdRom& drive, std::uint32_t& absolute, std::uint32_t& relative,
                  std::uint8_t& track)
{
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive, cdb::ReadSubChannel(drive.Lun, kSubChannelPollMs), buffer))
        return false;
    const std::uint8_t* r = Bytes(buffer);
    absolute = Be32(r + 8);
    relative = Be32(r + 12);
    track = r[6];
    return true;
}

// ---- mode pages ----

bool UsesTenByteModeCommands(const TKsCdRom& drive, int cmdType)
{
    if (cmdType == 1 || cmdType == 2)
        return cmdType == 2;
    return drive.AnsiVersion() == 0;
}

bool SetChannels(IScsiTransport& transport, const TKsCdRom& drive, StereoModes stereoMode, bool swap, int cmdType)
{
    // Port 0 and port 1 channel selections: 1 left, 2 right, 3 both.
    std::uint8_t port0 = 1, port1 = 2;
    switch (stereoMode) {
    case smLeft:
        port0 = port1 = 1;
        break;
    case smRight:
        port0 = port1 = 2;
        break;
    case smMix:
        port0 = port1 = 3;
        break;
    default:
        break;
    }
    if (swap) {
        const auto exchange = [](std::uint8_t s) { return static_cast<std::uint8_t>(s == 1 ? 2 : s == 2 ? 1 : s); };
        port0 = exchange(port0);
        port1 = exchange(port1);
    }
    return ChangeAudioControlPage(transport, drive, cmdType, [&](std::uint8_t* page) {
        page[8] = port0;
        page[10] = port1;
    });
}

bool SetPortVolumes(IScsiTransport& transport, const TKsCdRom& drive, std::uint8_t left, std::uint8_t right,
                    int cmdType)
{
    return ChangeAudioControlPage(transport, drive, cmdType, [&](std::uint8_t* page) {
        page[9] = left;
        page[11] = right;
    });
}

bool SetDensity(IScsiTransport& transport, const TKsCdRom& drive, std::uint8_t density, std::uint32_t blockLength,
                int cmdType)
{
    const bool ten = UsesTenByteModeCommands(drive, cmdType);
    const std::size_t header = ten ? 8 : 4, length = header + 8;
    TKsParagraphBoundaryBuffer buffer(length);
    if (buffer.Empty())
        return false;
    std::uint8_t* b = Bytes(buffer);
    std::fill_n(b, length, 0);
    b[header - 1] = 8; // one block descriptor
    b[header] = density;
    PutBe24(b + header + 5, blockLength);
    return Send(transport, drive, cdb::ModeSelect(drive.Lun, ten, static_cast<std::uint16_t>(length)), b);
}

bool ReadCapabilitiesPage(IScsiTransport& transport, const TKsCdRom& drive, int cmdType, std::span<std::uint8_t> page)
{
    std::fill(page.begin(), page.end(), 0);
    const bool ten = UsesTenByteModeCommands(drive, cmdType);
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive, cdb::ModeSense(drive.Lun, ten, kCapabilitiesPage, kCapabilitiesLength), buffer))
        return false;
    const std::uint8_t* b = Bytes(buffer);
    const std::size_t start = (ten ? 8 : 4) + (ten ? Be16(b + 6) : b[3]);
    if (start >= kCapabilitiesLength)
        return false;
    std::copy_n(b + start, std::min(page.size(), kCapabilitiesLength - start), page.begin());
    return true;
}

std::uint32_t GetCurrentReadSpeed(IScsiTransport& transport, const TKsCdRom& drive, int cmdType)
{
    std::uint8_t page[16];
    return ReadCapabilitiesPage(transport, drive, cmdType, page) ? Be16(page + 14) : 0;
}

bool SetReadSpeed(IScsiTransport& transport, const TKsCdRom& drive, std::uint16_t kilobytesPerSecond)
{
    return Send(transport, drive, cdb::SetCdSpeed(drive.Lun, kilobytesPerSecond), nullptr);
}

std::size_t GetReadSpeeds(IScsiTransport& transport, const TKsCdRom& drive, int cmdType, std::span<std::uint32_t> list)
{
    constexpr int kSteps = 72;
    std::size_t count = 0;
    std::uint32_t last = 0;
    for (int j = 1; j <= kSteps && count < list.size(); ++j) {
        const int step = j * 176400 / 1000; // 1x in kB/s, times j
        // A drive may round the speed down to the step below; one more lands on it.
        for (int k = 0; k < 2; ++k) {
            SetReadSpeed(transport, drive, static_cast<std::uint16_t>(step + k));
            const std::uint32_t speed = GetCurrentReadSpeed(transport, drive, cmdType);
            if (speed != 0 && speed != last) { // 0: not read, never a speed
                list[count++] = last = speed;
                break;
            }
        }
    }
    return count;
}

// ---- tray and identity ----

bool Eject(IScsiTransport& transport, const TKsCdRom& drive)
{
    return Send(transport, drive, cdb::StartStopUnit(2), nullptr);
}

bool Load(IScsiTransport& transport, const TKsCdRom& drive)
{
    return Send(transport, drive, cdb::StartStopUnit(3), nullptr);
}

bool IsReady(IScsiTransport& transport, const TKsCdRom& drive)
{
    return Send(transport, drive, cdb::TestUnitReady(drive.Lun), nullptr);
}

bool LockTray(IScsiTransport& transport, const TKsCdRom& drive, bool lock, bool perLun)
{
    if (!perLun)
        return Send(transport, drive, cdb::PreventAllow(drive.Lun, lock), nullptr);
    TKsCdRom unit = drive;
    for (std::uint8_t lun = 0; lun < 8; ++lun) {
        unit.Lun = lun;
        if (!Send(transport, unit, cdb::PreventAllow(lun, lock), nullptr))
            return false;
    }
    return true;
}

bool Inquiry(IScsiTransport& transport, TKsCdRom& drive)
{
    TKsParagraphBoundaryBuffer buffer;
    if (!Fetch(transport, drive, cdb::Inquiry(), buffer))
        return false;
    drive.Inquiry.fill(0);
    std::copy_n(Bytes(buffer), kInquiryLength, drive.Inquiry.begin());
    return true;
}

} // namespace vantrel
