#include "TestDisc.h"

#include <fstream>
#include <stdexcept>
#include <string>

#include "common/TempDir.h"
#include "drive/CdAddress.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/codec/CdgPack.h"
#include "vdrive/codec/SubLayout.h"
#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive::test {
namespace {

constexpr std::int64_t kAudioSectors = 900, kDataStart = 12300, kDataSectors = 100;

void AudioSector(std::int64_t lba, std::uint8_t* out)
{
    for (int i = 0; i < 588; ++i) {
        std::int16_t left = 0, right = 0;
        CounterSample(FirstSample(lba) + i, left, right);
        out[4 * i + 0] = static_cast<std::uint8_t>(left);
        out[4 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(left) >> 8);
        out[4 * i + 2] = static_cast<std::uint8_t>(right);
        out[4 * i + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(right) >> 8);
    }
}

void DataSector(std::int64_t lba, std::uint8_t* out)
{
    std::fill(out, out + kSectorBytes, 0);
    std::fill(out + 1, out + 11, 0xFF);
    const std::int64_t a = lba + 150;
    out[12] = BinToBcd(static_cast<unsigned>(a / 4500));
    out[13] = BinToBcd(static_cast<unsigned>(a / 75 % 60));
    out[14] = BinToBcd(static_cast<unsigned>(a % 75));
    out[15] = 1;
    for (int k = 0; k < 2048; ++k)
        out[16 + k] = static_cast<std::uint8_t>(lba + k);
}

Track MakeTrack(int number, std::int64_t pregapStart, std::int64_t start, std::int64_t end, const char* title)
{
    Track track;
    track.number = number;
    track.pregapStart = pregapStart;
    track.start = start;
    track.end = end;
    track.text.title = title;
    return track;
}

int AddFile(Disc& disc, const std::string& path)
{
    std::string error;
    const int file = disc.AddFile(path, error);
    if (file < 0)
        throw std::runtime_error(error);
    return file;
}

enum class Variant { Three, TwoSessions, Sub };

std::shared_ptr<const Disc> Build(const std::string& folder, Variant variant)
{
    auto disc = std::make_shared<Disc>();
    disc->tracks = {MakeTrack(1, 0, 0, 300, "One"), MakeTrack(2, 300, 375, 600, "Two"),
                    MakeTrack(3, 600, 600, 900, "Three")};
    disc->tracks[0].copyPermitted = true;
    disc->tracks[1].preEmphasis = true;
    disc->tracks[1].moreIndexes = {450};
    disc->sessions = {Session{1, 1, 3, kAudioSectors}};
    if (variant == Variant::TwoSessions) {
        for (Track& track : disc->tracks)
            track.text = {};
        Track data = MakeTrack(4, kAudioSectors + kSessionGapSectors, kDataStart, kDataStart + kDataSectors, "");
        data.session = 2;
        data.mode = TrackMode::Mode1Raw;
        disc->tracks.push_back(data);
        disc->sessions.push_back(Session{2, 4, 4, kDataStart + kDataSectors});
    } else {
        disc->albumText = CdText{"Disc Title", "Disc Artist", ""};
    }

    const std::string bin = folder + "/" + std::to_string(static_cast<int>(variant)) + ".bin";
    {
        std::ofstream out(bin, std::ios::binary);
        std::uint8_t sector[kSectorBytes];
        for (std::int64_t lba = 0; lba < kAudioSectors; ++lba) {
            AudioSector(lba, sector);
            out.write(reinterpret_cast<const char*>(sector), kSectorBytes);
        }
        if (variant == Variant::TwoSessions)
            for (std::int64_t lba = kDataStart; lba < kDataStart + kDataSectors; ++lba) {
                DataSector(lba, sector);
                out.write(reinterpret_cast<const char*>(sector), kSectorBytes);
            }
    }
    const int binFile = AddFile(*disc, bin);
    disc->extents = {Extent{0, kAudioSectors, binFile, 0}};
    if (variant == Variant::TwoSessions)
        disc->extents.push_back(Extent{kDataStart, kDataSectors, binFile, kAudioSectors * kSectorBytes});

    if (variant == Variant::Sub) {
        const std::string sub = folder + "/sub.sub";
        {
            std::ofstream out(sub, std::ios::binary);
            CdgInterleaver interleaver;
            for (std::int64_t lba = 0; lba < kAudioSectors; ++lba) {
                std::uint8_t packs[kSubBytes], raw[kSubBytes] = {}, q[kQFrameBytes];
                for (int k = 0; k < kSubBytes; ++k)
                    packs[k] = RwSymbol(lba * 4 + k / 24, k % 24);
                interleaver.Interleave(packs, 4);
                PutRw(raw, packs);
                disc->MakeQ(lba, q);
                PutQ(raw, q);
                out.write(reinterpret_cast<const char*>(raw), kSubBytes);
            }
        }
        disc->extents[0].subFile = AddFile(*disc, sub);
    }
    return disc;
}

struct Shared {
    testing::TempDir dir; // destroyed last, after the discs have closed their files
    std::shared_ptr<const Disc> discs[3];
};

std::shared_ptr<const Disc> Get(Variant variant)
{
    static Shared shared;
    auto& disc = shared.discs[static_cast<int>(variant)];
    if (!disc)
        disc = Build(shared.dir.Path().string(), variant);
    return disc;
}

std::vector<std::uint8_t> Cdb12(std::uint8_t opcode)
{
    std::vector<std::uint8_t> cdb(12, 0);
    cdb[0] = opcode;
    return cdb;
}

void PutBe32(std::uint8_t* p, std::int64_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void PutMsf(std::uint8_t* p, std::int64_t lba)
{
    const TCdAddress a = FramesToCdAddress(lba + 150);
    p[0] = a.minute;
    p[1] = a.second;
    p[2] = a.frame;
}

} // namespace

std::shared_ptr<const Disc> ThreeTracks()
{
    return Get(Variant::Three);
}
std::shared_ptr<const Disc> TwoSessions()
{
    return Get(Variant::TwoSessions);
}
std::shared_ptr<const Disc> WithSubFile()
{
    return Get(Variant::Sub);
}

std::uint8_t RwSymbol(std::int64_t pack, int symbol)
{
    return static_cast<std::uint8_t>((pack * 5 + symbol * 11 + 1) & 0x3F);
}

std::int64_t SamplePosition(const std::uint8_t* bytes)
{
    return CounterPosition(static_cast<std::int16_t>(bytes[0] | bytes[1] << 8),
                           static_cast<std::int16_t>(bytes[2] | bytes[3] << 8));
}

Answer In(VirtualDrive& drive, std::vector<std::uint8_t> cdb, std::size_t length)
{
    std::vector<std::uint8_t> buffer(length, 0xEE);
    Answer answer;
    answer.result = drive.Execute(cdb.data(), cdb.size(), Direction::In, buffer.data(), buffer.size());
    buffer.resize(std::min(answer.result.transferred, buffer.size()));
    answer.data = std::move(buffer);
    return answer;
}

CommandResult NoData(VirtualDrive& drive, std::vector<std::uint8_t> cdb)
{
    return drive.Execute(cdb.data(), cdb.size(), Direction::None, nullptr, 0);
}

CommandResult Out(VirtualDrive& drive, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data)
{
    return drive.Execute(cdb.data(), cdb.size(), Direction::Out, data.data(), data.size());
}

std::vector<std::uint8_t> ReadCd(std::int64_t lba, int count, std::uint8_t selection, std::uint8_t flags)
{
    auto cdb = Cdb12(0xBE);
    PutBe32(&cdb[2], lba);
    cdb[7] = static_cast<std::uint8_t>(count >> 8);
    cdb[8] = static_cast<std::uint8_t>(count);
    cdb[9] = flags;
    cdb[10] = selection;
    return cdb;
}

std::vector<std::uint8_t> ReadCdMsf(std::int64_t lba, int count, std::uint8_t selection)
{
    auto cdb = Cdb12(0xB9);
    PutMsf(&cdb[3], lba);
    PutMsf(&cdb[6], lba + count);
    cdb[9] = 0x10;
    cdb[10] = selection;
    return cdb;
}

std::vector<std::uint8_t> ReadCdda(std::int64_t lba, int count, std::uint8_t subcode)
{
    auto cdb = Cdb12(0xD8);
    PutBe32(&cdb[2], lba);
    PutBe32(&cdb[6], count);
    cdb[10] = subcode;
    return cdb;
}

std::vector<std::uint8_t> ReadCddaMsf(std::int64_t lba, int count, std::uint8_t subcode)
{
    auto cdb = Cdb12(0xD9);
    PutMsf(&cdb[3], lba);
    PutMsf(&cdb[7], lba + count);
    cdb[10] = subcode;
    return cdb;
}

std::vector<std::uint8_t> Read10(std::int64_t lba, int count)
{
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x28;
    PutBe32(&cdb[2], lba);
    cdb[7] = static_cast<std::uint8_t>(count >> 8);
    cdb[8] = static_cast<std::uint8_t>(count);
    return cdb;
}

std::vector<std::uint8_t> ReadSubChannel(bool msf)
{
    return {0x42, static_cast<std::uint8_t>(msf ? 0x02 : 0x00), 0x40, 0x01, 0, 0, 0, 0, 16, 0};
}

std::vector<std::uint8_t> PlayMsf(std::int64_t fromLba, std::int64_t toLba)
{
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x47;
    PutMsf(&cdb[3], fromLba);
    PutMsf(&cdb[6], toLba);
    return cdb;
}

std::vector<std::uint8_t> Seek(std::int64_t lba)
{
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x2B;
    PutBe32(&cdb[2], lba);
    return cdb;
}

CommandResult SetDensity(VirtualDrive& drive, std::uint8_t density, std::uint32_t blockLength)
{
    std::vector<std::uint8_t> data(16, 0);
    data[7] = 8;
    data[8] = density;
    data[13] = static_cast<std::uint8_t>(blockLength >> 16);
    data[14] = static_cast<std::uint8_t>(blockLength >> 8);
    data[15] = static_cast<std::uint8_t>(blockLength);
    return Out(drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 16, 0}, data);
}

} // namespace vantrel::vdrive::test
