#include "drive/CdToc.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {

namespace {

std::int64_t Frames(TCdAddress address)
{
    return AddressToFrames(address);
}

std::int64_t Sector(TCdAddress address)
{
    return AddressToFrames(address) - kLeadInFrames;
}

// Minute, second and frame packed as the CD Player identifier sums them.
std::uint32_t PackedMsf(TCdAddress address)
{
    return std::uint32_t{address.minute} << 16 | std::uint32_t{address.second} << 8 | address.frame;
}

std::uint32_t DigitSum(std::uint32_t value)
{
    std::uint32_t sum = 0;
    for (; value > 0; value /= 10)
        sum += value % 10;
    return sum;
}

std::uint32_t Seconds(TCdAddress address)
{
    return address.minute * 60u + address.second;
}

// Identifiers are unsigned 32-bit sums: a difference that comes out negative on a
// malformed table wraps modulo 2^32 instead of overflowing.
std::uint32_t Wrap(std::int64_t value)
{
    return static_cast<std::uint32_t>(value);
}

std::string Hex(const char* format, std::uint32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(id));
    return text;
}

} // namespace

int TocTrackCount(const TCdToc& toc)
{
    return std::min<int>(toc.trackCount, kMaxTracks);
}

std::uint32_t ComputeCddbId(const TCdToc& toc)
{
    const int n = TocTrackCount(toc);
    if (n == 0)
        return 0;
    std::uint32_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum += DigitSum(Seconds(toc.tracks[i].start));
    const std::int64_t length = std::int64_t{Seconds(toc.leadOut)} - Seconds(toc.tracks[0].start);
    return (sum % 255) * (1u << 24) + Wrap(length) * (1u << 8) + static_cast<std::uint32_t>(n);
}

std::uint32_t ComputeCdPlayerId(const TCdToc& toc)
{
    const int n = TocTrackCount(toc);
    if (n == 0)
        return 0;
    const TCdTrackEntry& first = toc.tracks[0];
    std::uint32_t id = 0;

    if (toc.sessionCount > 0) {
        const TCdSession& session = toc.sessions[0];
        const int count = std::min<int>(session.trackCount, n);
        for (int i = 0; i < count; ++i)
            id += PackedMsf(toc.tracks[i].start);
        if (count < 3)
            id += Wrap(Frames(session.leadOut) - Frames(session.start) + (toc.sessionCount > 1 ? kLeadInFrames : 0));
        return id;
    }

    // A data track at the end is left out; a short disc adds its length in frames so that
    // one- and two-track discs still tell apart.
    const bool dataLast = n > 1 && toc.tracks[n - 1].dataTrack != 0;
    const int summed = dataLast ? n - 1 : n;
    for (int i = 0; i < summed; ++i)
        id += PackedMsf(toc.tracks[i].start);
    if (dataLast) {
        if (summed < 3)
            id += Wrap(Frames(toc.tracks[n - 1].start) - 11400 - Frames(first.start) + kLeadInFrames);
    } else if (n < 3) {
        // READ TOC leaves the lead-out in the entry after the last track; the CD-audio
        // device and the manual analysis fill only the lead-out field.
        TCdAddress leadOut = toc.tracks[n].start;
        if (leadOut == TCdAddress{})
            leadOut = toc.leadOut;
        id += Wrap(Frames(leadOut) - Frames(first.start));
    }
    return id;
}

std::uint32_t TotalSeconds(const TCdToc& toc)
{
    return Seconds(toc.leadOut);
}

std::string BuildCddbQuery(const TCdToc& toc, std::uint32_t cddbId)
{
    const int n = TocTrackCount(toc);
    std::string query = "cddb query " + Hex("%08x", cddbId) + ' ' + std::to_string(n);
    for (int i = 0; i < n; ++i)
        query += ' ' + std::to_string(Frames(toc.tracks[i].start));
    query += ' ' + std::to_string(TotalSeconds(toc));
    return query;
}

std::string BuildFrames(const TCdToc& toc)
{
    const int n = TocTrackCount(toc);
    if (toc.sessionCount == 0 || n == 0)
        return {};
    std::string frames;
    const TCdTrackEntry& first = toc.tracks[0];
    if (first.dataTrack != 0)
        frames = std::to_string(Sector(first.start) + 1) + '(' + std::to_string(Sector(first.start)) + ')';
    else
        frames = std::to_string(Sector(first.start));
    frames += ',';
    std::uint8_t session = first.session;
    for (int i = 1; i < n; ++i) {
        const TCdTrackEntry& track = toc.tracks[i];
        if (track.session == session)
            frames += std::to_string(Sector(track.start));
        else
            frames += std::to_string(Sector(toc.tracks[i - 1].end)) + '(' + std::to_string(Sector(track.start)) + ')';
        frames += ',';
        session = track.session;
    }
    frames += std::to_string(Sector(toc.leadOut));
    return frames;
}

TCddbParams MakeCddbParams(const TCdToc& toc)
{
    TCddbParams params;
    params.NumTracks = static_cast<std::uint32_t>(TocTrackCount(toc));
    params.CdPlayerId = ComputeCdPlayerId(toc);
    params.CddbId = ComputeCddbId(toc);
    params.TotalSeconds = TotalSeconds(toc);
    params.CddbQuery = BuildCddbQuery(toc, params.CddbId);
    params.Frames = BuildFrames(toc);
    return params;
}

std::string CddbIdText(std::uint32_t id)
{
    return Hex("%08X", id);
}

std::string CdPlayerIdText(std::uint32_t id)
{
    return Hex("%X", id);
}

} // namespace vantrel
