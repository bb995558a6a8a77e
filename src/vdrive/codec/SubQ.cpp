#include "vdrive/codec/SubQ.h"

#include <algorithm>
#include <cstring>

#include "drive/CdAddress.h"

namespace vantrel::vdrive {
namespace {

// 99:59:74, the last time BCD minutes can express.
constexpr std::int64_t kMaxBcdFrames = 99 * kFramesPerMinute + 59 * kFramesPerSecond + 74;

void PutBcdTime(std::int64_t frames, std::uint8_t* out)
{
    const std::int64_t n = std::clamp<std::int64_t>(frames, 0, kMaxBcdFrames);
    out[0] = BinToBcd(static_cast<unsigned>(n / kFramesPerMinute));
    out[1] = BinToBcd(static_cast<unsigned>(n / kFramesPerSecond % 60));
    out[2] = BinToBcd(static_cast<unsigned>(n % kFramesPerSecond));
}

std::int64_t GetBcdTime(const std::uint8_t* in)
{
    return BcdToBin(in[0]) * kFramesPerMinute + BcdToBin(in[1]) * std::int64_t{kFramesPerSecond} + BcdToBin(in[2]);
}

} // namespace

std::uint16_t QCrc(const std::uint8_t* data, std::size_t n)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

void EncodeQ(const QPosition& position, std::uint8_t out[kQFrameBytes])
{
    out[0] = static_cast<std::uint8_t>((position.control & 0x0F) << 4 | (position.adr & 0x0F));
    out[1] = position.track == kLeadOutTrack ? kLeadOutTrack : BinToBcd(position.track);
    out[2] = BinToBcd(position.index);
    const std::int64_t relative = position.relativeFrames;
    PutBcdTime(relative < 0 ? -relative : relative, out + 3);
    out[6] = 0;
    PutBcdTime(position.absoluteFrames, out + 7);
    const std::uint16_t crc = QCrc(out, 10);
    out[10] = static_cast<std::uint8_t>(crc >> 8);
    out[11] = static_cast<std::uint8_t>(crc);
}

bool DecodeQ(const std::uint8_t in[kQFrameBytes], QPosition& position)
{
    if (QCrc(in, 10) != (in[10] << 8 | in[11]) || (in[0] & 0x0F) != 1)
        return false;
    position.control = static_cast<std::uint8_t>(in[0] >> 4);
    position.adr = 1;
    position.track = in[1] == kLeadOutTrack ? kLeadOutTrack : BcdToBin(in[1]);
    position.index = BcdToBin(in[2]);
    const std::int64_t relative = GetBcdTime(in + 3);
    position.relativeFrames = position.index == 0 ? -relative : relative;
    position.absoluteFrames = GetBcdTime(in + 7);
    return true;
}

void FormattedQ16(const std::uint8_t q[kQFrameBytes], std::uint8_t out[kFormattedQBytes], bool binary)
{
    std::memset(out, 0, kFormattedQBytes);
    std::memcpy(out, q, kQFrameBytes);
    if (binary && (q[0] & 0x0F) == 1) {
        for (int i = 1; i <= 9; ++i)
            out[i] = BcdToBin(q[i]);
        out[10] = out[11] = 0;
    }
}

} // namespace vantrel::vdrive
