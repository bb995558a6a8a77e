// Small discs for the drive tests, built by hand so every address in the expectations can
// be worked out on paper, and the helpers to take apart what the drive answers.
// Each variant is written once per test program into one temporary folder.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vdrive/Disc.h"
#include "vdrive/drive/VirtualDrive.h"

namespace vantrel::vdrive::test {

// One session, three audio tracks, lead-out at 900 (00:14:00):
//   track 1: sectors 0..299, copy permitted (control 2), index 1 at 00:02:00
//   track 2: pre-gap 300..374, index 1 at 375 (00:07:00), index 2 at 450, pre-emphasis (control 1)
//   track 3: 600..899 (00:10:00)
// Every stereo sample holds its own position (CounterSample: n = (sector + 150) * 588 + i).
// Album "Disc Title" by "Disc Artist", track titles "One", "Two", "Three".
std::shared_ptr<const Disc> ThreeTracks();
// The same with a second session: data track 4 (mode 1, control 4), pre-gap from 12150,
// index 1 at 12300 (00:02:46:00), lead-out 12400 (02:47:25); no CD-Text. User byte k of a
// data sector is (sector + k) & FF.
std::shared_ptr<const Disc> TwoSessions();
// ThreeTracks with a .sub file: Q as the table says, R-W the interleaved stream of packs
// whose symbol k of pack g (g = sector * 4 + 0..3) is RwSymbol(g, k).
std::shared_ptr<const Disc> WithSubFile();
std::uint8_t RwSymbol(std::int64_t pack, int symbol);

// The position named by the stereo sample at bytes (4 bytes), -1 for silence.
std::int64_t SamplePosition(const std::uint8_t* bytes);
// The position of the first sample of sector lba.
constexpr std::int64_t FirstSample(std::int64_t lba)
{
    return (lba + 150) * 588;
}

// A drive around the command bytes: runs cdb with a data-in buffer of the given size.
struct Answer {
    CommandResult result;
    std::vector<std::uint8_t> data; // the first result.transferred bytes of the buffer
    bool Good() const { return result.status == kStatusGood; }
};
Answer In(VirtualDrive& drive, std::vector<std::uint8_t> cdb, std::size_t length);
CommandResult NoData(VirtualDrive& drive, std::vector<std::uint8_t> cdb);
CommandResult Out(VirtualDrive& drive, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data);

// Command blocks as the player sends them.
std::vector<std::uint8_t> ReadCd(std::int64_t lba, int count, std::uint8_t selection, std::uint8_t flags = 0x10);
std::vector<std::uint8_t> ReadCdMsf(std::int64_t lba, int count, std::uint8_t selection);
std::vector<std::uint8_t> ReadCdda(std::int64_t lba, int count, std::uint8_t subcode);
std::vector<std::uint8_t> ReadCddaMsf(std::int64_t lba, int count, std::uint8_t subcode);
std::vector<std::uint8_t> Read10(std::int64_t lba, int count);
std::vector<std::uint8_t> ReadSubChannel(bool msf);
std::vector<std::uint8_t> PlayMsf(std::int64_t fromLba, std::int64_t toLba);
std::vector<std::uint8_t> Seek(std::int64_t lba);
// MODE SELECT(10) with one block descriptor: density and block length.
CommandResult SetDensity(VirtualDrive& drive, std::uint8_t density, std::uint32_t blockLength);

} // namespace vantrel::vdrive::test
