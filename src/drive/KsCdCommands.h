// The SCSI commands the player sends to a CD drive, each described once (command bytes,
// direction, transfer length, time-out), and the operations built on them: table of
// contents, CD-Text, sector and Q reads, analog play, mode pages, read speeds and the tray.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drive/CdAddress.h"
#include "drive/CdToc.h"
#include "drive/KsCdRom.h"
#include "drive/KsParagraphBoundaryBuffer.h"
#include "drive/ScsiTransport.h"
#include "drive/ReadModes.h" // RipMethods, SubCodeModes, StereoModes: header-only vocabulary

namespace vantrel {

// One command block with what goes with it. A command without data has direction None
// and length 0; the transport decides how that travels.
struct TScsiCommand {
    std::array<std::uint8_t, 12> cdb{}; // bytes past cdbLength are 0
    std::uint8_t cdbLength = 6;
    ScsiDirection direction = ScsiDirection::None;
    std::size_t length = 0; // bytes to transfer
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
};

// Sector sizes: audio; audio + 16 bytes of formatted Q; audio + 96 bytes of sub-channel.
inline constexpr std::uint32_t kAudioSector = 2352, kAudioQSector = 2368, kAudioSubSector = 2448;
inline constexpr std::uint32_t kSubChannelBytes = 96, kFormattedQ = 16;
inline constexpr std::uint32_t kSubChannelPollMs = 3000, kSubChannelAfterSeekMs = 10000;

// The command descriptions. `lun` goes to bits 5-7 of byte 1 where the command has a LUN
// field. Sector numbers are logical block addresses; the MSF forms take absolute frame
// numbers. A selection or sub-code the command does not know, or a count its fields
// cannot carry, gives no command at all, so nothing is sent.
namespace cdb {
TScsiCommand Inquiry(); // 100 bytes in
TScsiCommand TestUnitReady(std::uint8_t lun);
TScsiCommand StartStopUnit(std::uint8_t loadEject); // immediate, no LUN bits: 2 eject, 3 load
TScsiCommand StopUnit(std::uint8_t lun);            // START STOP UNIT: stop, immediate
TScsiCommand PreventAllow(std::uint8_t lun, bool lock);
TScsiCommand ReadTocNormal();                     // format 0, MSF, 804 bytes in
TScsiCommand ReadTocAdvancedOld();                // full TOC through the old control-byte form
TScsiCommand ReadTocAdvanced();                   // full TOC through format 2
TScsiCommand ReadTocCdText(std::uint16_t length); // format 5
TScsiCommand PlayAudio12(std::uint8_t lun, std::int32_t lba, std::uint32_t frames);
TScsiCommand PlayAudioMsf(std::uint8_t lun, TCdAddress start, TCdAddress end); // end exclusive
TScsiCommand StopPlayScan(std::uint8_t lun);
TScsiCommand PauseResume(std::uint8_t lun, bool resume);
TScsiCommand ReadSubChannel(std::uint8_t lun, std::uint32_t timeoutMs); // current position, MSF, 16 bytes
TScsiCommand Seek10(std::uint8_t lun, std::int32_t lba);
// READ CD: selection 0 (none), 1 (raw P-W), 2 (formatted Q), 4 (R-W).
std::optional<TScsiCommand> ReadCd(std::uint8_t lun, std::int32_t lba, std::uint32_t count, std::uint8_t selection);
std::optional<TScsiCommand> ReadCdMsf(std::uint8_t lun, std::int64_t startFrames, std::uint32_t count,
                                      std::uint8_t selection);
// READ CDDA: sub-code 0 (none), 1 (Q), 2 (P-W), 3 (P-W only, no audio).
std::optional<TScsiCommand> ReadCdda(std::uint8_t lun, std::int32_t lba, std::uint32_t count, std::uint8_t subCode);
std::optional<TScsiCommand> ReadCddaMsf(std::uint8_t lun, std::int64_t startFrames, std::uint32_t count,
                                        std::uint8_t subCode);
// READ(10) after a density switch; sectorSize 2352, 2368 or 2448.
std::optional<TScsiCommand> Read10(std::uint8_t lun, std::int32_t lba, std::uint32_t count, std::uint32_t sectorSize);
// READ CD with the flags byte (80 sync, 10 user data, 08 EDC/ECC, header-code bits) and the
// expected-sector-type bits as given; without user data a sector is its sub-channel alone.
std::optional<TScsiCommand> ReadCdGeneral(std::uint8_t lun, std::uint8_t sectorTypeBits, std::int32_t lba,
                                          std::uint32_t count, std::uint8_t flags, std::uint8_t selection);
TScsiCommand ReadSubCode(std::uint8_t lun, std::uint32_t count); // vendor DF, count x 96 bytes in
TScsiCommand ModeSense(std::uint8_t lun, bool tenByte, std::uint8_t page, std::uint16_t length);
TScsiCommand ModeSelect(std::uint8_t lun, bool tenByte, std::uint16_t length); // page format, never save
TScsiCommand SetCdSpeed(std::uint8_t lun, std::uint16_t kilobytesPerSecond);
} // namespace cdb

// Sends one command; buffer holds command.length bytes (null when there are none). True
// when the transport reports success.
bool Send(IScsiTransport& transport, const TKsCdRom& drive, const TScsiCommand& command, std::uint8_t* buffer);

// ---- table of contents and CD-Text ----

// Both fill the whole record (zeroed first) and are false when the drive refuses or the
// answer holds no sensible track range (1..99 tracks).
bool ReadTocNormal(IScsiTransport& transport, const TKsCdRom& drive, TCdToc& toc);
// The full TOC with sessions; bcd corrects a drive that reports its descriptors in BCD.
bool ReadTocAdvanced(IScsiTransport& transport, const TKsCdRom& drive, bool bcd, TCdToc& toc);
// The CD-Text answer (4-byte header and packs) into buffer. length is the size the
// answer needs, set as soon as it is known: with a smaller buffer the call fails after it.
bool ReadCdText(IScsiTransport& transport, const TKsCdRom& drive, std::uint8_t* buffer, std::size_t size,
                std::size_t& length);

// ---- reading sectors ----

// The read command a rip method and sub-code mode come to. A combination the method does
// not offer, or SubCodeNo, reads plain audio (SubCodeNo, 2352 bytes a sector); a method
// outside the five reads as RipMMC, a sub-code mode outside the four as SubCodeNo.
struct TReadFunction {
    RipMethods method = RipMMC;
    SubCodeModes subCode = SubCodeNo; // the mode in effect
    std::uint32_t sectorSize = kAudioSector;
    std::uint8_t code = 0; // READ CD selection or READ CDDA sub-code (unused by READ(10))
};
TReadFunction ChooseReadFunction(RipMethods method, SubCodeModes subCode);

// count sectors from absolute frame start into buffer, which must hold count sectors of
// the effective size (else nothing is sent). RipToshiba expects the density already set.
bool ReadSectors(IScsiTransport& transport, const TKsCdRom& drive, RipMethods method, SubCodeModes subCode,
                 std::int64_t start, std::uint32_t count, TKsParagraphBoundaryBuffer& buffer);

// Whether the drive's formatted Q (READ CD selection 2, READ CDDA sub-code 1 beside the
// audio) gives positions in binary rather than BCD: drives whose vendor is PLEXTOR do.
bool FormatsQInBinary(const TKsCdRom& drive);

// The Q of one sector: byte 0 control (high nibble) and ADR (low), 1 track (170 for the
// lead-out), 2 index, 3-5 track-relative M S F, 6 zero, 7-9 absolute M S F, 10-11 unused.
using TQRecord = std::array<std::uint8_t, 12>;
// By method 1 (READ CDDA), 2 (READ CD) or 3 (SEEK, then READ SUB-CHANNEL) at absolute
// frame `frames`; any other method fails. The record is zeroed first.
bool ReadQ(IScsiTransport& transport, const TKsCdRom& drive, int method, std::int64_t frames, TQRecord& record);

// The vendor sub-code read (DF): count x 96 bytes of sub-channel around the play position.
bool ReadSubCode(IScsiTransport& transport, const TKsCdRom& drive, std::uint32_t count,
                 TKsParagraphBoundaryBuffer& buffer);

// ---- analog play ----

// From start to end (exclusive): PLAY AUDIO MSF, else PLAY AUDIO(12) by sector.
bool PlayRange(IScsiTransport& transport, const TKsCdRom& drive, TCdAddress start, TCdAddress end);
bool Stop(IScsiTransport& transport, const TKsCdRom& drive); // STOP PLAY/SCAN, else START STOP UNIT
bool Pause(IScsiTransport& transport, const TKsCdRom& drive);
bool Resume(IScsiTransport& transport, const TKsCdRom& drive);
// Byte 1 of READ SUB-CHANNEL (11 hex playing, 12 paused, 13 completed, 14 error, 15 none); 0 on failure.
std::uint8_t AudioStatus(IScsiTransport& transport, const TKsCdRom& drive);
// The absolute and track-relative position as the big-endian words 0 M S F, and the track.
bool ReadPosition(IScsiTransport& transport, const TKsCdRom& drive, std::uint32_t& absolute, std::uint32_t& relative,
                  std::uint8_t& track);
// Such a word as an address.
constexpr TCdAddress PositionAddress(std::uint32_t word)
{
    return TCdAddress{0, static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 8),
                      static_cast<std::uint8_t>(word)};
}

// ---- mode pages ----

// cmdType 1: 6-byte MODE SENSE/SELECT, 2: 10-byte; anything else picks by the ANSI
// version (0, as ATAPI drives report, takes the 10-byte form). Callers that keep mode
// commands off (a negative cmdType) do not call the operations below.
bool UsesTenByteModeCommands(const TKsCdRom& drive, int cmdType);
// Audio control page: routing of the disc channels to the two output ports by stereo
// mode (swap exchanges left and right), and the two port volumes.
bool SetChannels(IScsiTransport& transport, const TKsCdRom& drive, StereoModes stereoMode, bool swap, int cmdType);
bool SetPortVolumes(IScsiTransport& transport, const TKsCdRom& drive, std::uint8_t left, std::uint8_t right,
                    int cmdType);
// One block descriptor: density code and block length (82 hex with 2352/2368/2448 for
// audio through READ(10); 0 with 2048 back to data).
bool SetDensity(IScsiTransport& transport, const TKsCdRom& drive, std::uint8_t density, std::uint32_t blockLength,
                int cmdType);
// The first page.size() bytes of the capabilities page (2A hex), cut to what the answer holds.
bool ReadCapabilitiesPage(IScsiTransport& transport, const TKsCdRom& drive, int cmdType, std::span<std::uint8_t> page);
// The current read speed in kB/s from the capabilities page; 0 on failure.
std::uint32_t GetCurrentReadSpeed(IScsiTransport& transport, const TKsCdRom& drive, int cmdType);
bool SetReadSpeed(IScsiTransport& transport, const TKsCdRom& drive, std::uint16_t kilobytesPerSecond);
// Probes the speeds the drive takes: 72 steps of 176.4 kB/s, each set (and set 1 higher)
// and read back, listing every new value, at most list.size(); returns the count. The
// drive stays at the last speed set. The letter path passes cmdType 0 (automatic).
std::size_t GetReadSpeeds(IScsiTransport& transport, const TKsCdRom& drive, int cmdType, std::span<std::uint32_t> list);

// ---- tray and identity ----

bool Eject(IScsiTransport& transport, const TKsCdRom& drive);
bool Load(IScsiTransport& transport, const TKsCdRom& drive);
bool IsReady(IScsiTransport& transport, const TKsCdRom& drive); // a disc is in and ready
// perLun (the adapter path): sent to LUN 0..7 of the drive's target, failing at the first
// refusal; otherwise once.
bool LockTray(IScsiTransport& transport, const TKsCdRom& drive, bool lock, bool perLun);
// Fills drive.Inquiry with the first 100 bytes of the answer, zero beyond.
bool Inquiry(IScsiTransport& transport, TKsCdRom& drive);

} // namespace vantrel
