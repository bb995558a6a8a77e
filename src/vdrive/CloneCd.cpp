#include "vdrive/CloneCd.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "support/KsFastIniReader.h"
#include "vdrive/CueSheet.h"

namespace vantrel::vdrive {

namespace {

std::optional<long long> Number(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 0);  // decimal or 0x hex
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return value;
}

struct Entry {
    int session = 0, point = 0, adr = 0, control = 0;
    long long plba = 0;
    int pmin = 0;
};

class CcdReader {
public:
    CcdReader(std::string_view text, const std::string& name, Disc& disc, std::string& error)
        : ini_(TKsFastIniReader::Text{text}), name_(name), disc_(disc), error_(error)
    {
    }

    bool Read(const std::string& imageBase)
    {
        if (!ini_.OpenSection("CloneCD"))
            return Fail("[CloneCD]", "not a CloneCD control file");
        if (!ini_.OpenSection("Disc"))
            return Fail("[Disc]", "section missing");
        const auto entries = Number(ini_.ReadString("TocEntries", ""));
        if (!entries || *entries < 3 || *entries > 1000)
            return Fail("[Disc] TocEntries", "missing or out of range");
        ReadCdText();
        std::map<int, Entry> points;  // tracks by number
        std::map<int, Session> sessions;
        for (long long i = 0; i < *entries; ++i) {
            const std::string section = "Entry " + std::to_string(i);
            if (!ini_.OpenSection(section))
                return Fail("[" + section + "]", "section missing");
            Entry e;
            const auto session = Number(ini_.ReadString("Session", ""));
            const auto point = Number(ini_.ReadString("Point", ""));
            const auto adr = Number(ini_.ReadString("ADR", ""));
            const auto control = Number(ini_.ReadString("Control", ""));
            const auto pmin = Number(ini_.ReadString("PMin", ""));
            const auto plba = Number(ini_.ReadString("PLBA", ""));
            if (!session || !point || !adr || !control || !pmin || !plba || *session < 1 || *session > 99 ||
                *point < 0 || *point > 0xFF || *plba < -150 || *plba > 500000)
                return Fail("[" + section + "]", "a field is missing or out of range");
            e = Entry{static_cast<int>(*session), static_cast<int>(*point), static_cast<int>(*adr & 0x0F),
                      static_cast<int>(*control & 0x0F), *plba, static_cast<int>(*pmin)};
            Session& s = sessions[e.session];
            s.number = e.session;
            if (e.point == 0xA0)
                s.firstTrack = e.pmin;
            else if (e.point == 0xA1)
                s.lastTrack = e.pmin;
            else if (e.point == 0xA2)
                s.leadOut = e.plba;
            else if (e.adr == 1 && e.point >= 1 && e.point <= 99)
                points[e.point] = e;
        }
        if (points.empty())
            return Fail("[Entry]", "no track entries");
        int expected = points.begin()->first;
        for (const auto& [number, e] : points) {
            if (number != expected++)
                return Fail("[Entry]", "track numbers are not consecutive");
            Track t;
            t.number = number;
            t.session = e.session;
            t.mode = (e.control & 4) ? TrackMode::Mode1Raw : TrackMode::Audio;
            t.preEmphasis = e.control & 1;
            t.copyPermitted = e.control & 2;
            t.fourChannel = e.control & 8;
            t.start = t.pregapStart = e.plba;
            if (ini_.OpenSection("TRACK " + std::to_string(number))) {
                if (const auto index0 = Number(ini_.ReadString("INDEX 0", "")); index0 && *index0 <= t.start)
                    t.pregapStart = *index0;
                for (int k = 2; k < 100; ++k) {
                    const auto at = Number(ini_.ReadString("INDEX " + std::to_string(k), ""));
                    if (!at)
                        break;
                    t.moreIndexes.push_back(*at);
                }
            }
            if (number == points.begin()->first && sessions.begin()->first == t.session)
                t.pregapStart = std::min<std::int64_t>(t.pregapStart, 0);
            if (sessions.count(t.session) == 0)
                return Fail("[Entry]", "track " + std::to_string(number) + " in a session without A0/A1/A2");
            disc_.tracks.push_back(t);
        }
        for (auto& [number, s] : sessions) {
            if (s.leadOut <= 0 || s.lastTrack < s.firstTrack)
                return Fail("[Session " + std::to_string(number) + "]", "A0/A1/A2 entries missing or inconsistent");
            disc_.sessions.push_back(s);
        }
        for (std::size_t i = 0; i < disc_.tracks.size(); ++i) {
            Track& t = disc_.tracks[i];
            const Session* own = nullptr;
            for (const Session& s : disc_.sessions)
                if (s.number == t.session)
                    own = &s;
            const bool lastOfSession = i + 1 == disc_.tracks.size() || disc_.tracks[i + 1].session != t.session;
            t.end = lastOfSession ? own->leadOut : disc_.tracks[i + 1].pregapStart;
            if (t.end <= t.start || (i > 0 && t.pregapStart < disc_.tracks[i - 1].end))
                return Fail("[Entry]", "track " + std::to_string(t.number) + " overlaps or holds no sectors");
        }
        return MapImage(imageBase);
    }

private:
    bool Fail(const std::string& where, const std::string& what)
    {
        error_ = name_ + ": " + where + ": " + what;
        return false;
    }

    void ReadCdText()
    {
        if (!ini_.OpenSection("CDText"))
            return;
        const auto count = Number(ini_.ReadString("Entries", ""));
        for (long long i = 0; count && i < *count && i < 4096; ++i) {
            const std::string hex = ini_.ReadString("Entry " + std::to_string(i), "");
            std::vector<std::uint8_t> pack;
            for (std::size_t at = 0; at + 1 < hex.size() + 1 && pack.size() < 18; at += 3)
                if (const auto byte = Number("0x" + hex.substr(at, 2)))
                    pack.push_back(static_cast<std::uint8_t>(*byte));
            if (pack.size() == 18)
                disc_.cdTextPacks.insert(disc_.cdTextPacks.end(), pack.begin(), pack.end());
        }
    }

    // Sector runs stored in the .img: each session from its first track's pre-gap to its
    // lead-out, one after another.
    bool MapImage(const std::string& imageBase)
    {
        std::string why;
        const int img = disc_.AddFile(imageBase + ".img", why);
        if (img < 0)
            return Fail(imageBase + ".img", why);
        std::int64_t offset = 0;
        for (const Session& s : disc_.sessions) {
            const Track* first = disc_.FindTrack(s.firstTrack);
            const std::int64_t from = first ? std::max<std::int64_t>(first->pregapStart, 0) : 0;
            disc_.extents.push_back(Extent{from, s.leadOut - from, img, offset, -1, 0});
            offset += (s.leadOut - from) * kSectorBytes;
        }
        if (disc_.FileSize(img) < offset)
            return Fail(imageBase + ".img", "size " + std::to_string(disc_.FileSize(img)) + " is smaller than the " +
                                                std::to_string(offset / kSectorBytes) + " sectors of the table");
        const std::string subPath = imageBase + ".sub";
        if (!std::filesystem::exists(subPath))
            return true;
        if (!disc_.AttachSubFile(subPath, img, offset / kSectorBytes, why)) {
            error_ = name_ + ": " + why;
            return false;
        }
        return true;
    }

    TKsFastIniReader ini_;
    std::string name_;
    Disc& disc_;
    std::string& error_;
};

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

bool ReadCloneCdText(std::string_view text, const std::string& name, const std::string& imageBase, Disc& disc,
                     std::string& error)
{
    disc = Disc();
    CcdReader reader(text, name, disc, error);
    if (reader.Read(imageBase))
        return true;
    disc = Disc();
    return false;
}

bool ReadCloneCd(const std::string& ccdPath, Disc& disc, std::string& error)
{
    std::string text, why;
    if (!ReadWholeFile(ccdPath, 4 << 20, text, why)) {
        error = why;
        return false;
    }
    std::filesystem::path base = ccdPath;
    base.replace_extension();
    return ReadCloneCdText(text, ccdPath, base.string(), disc, error);
}

bool ReadDiscImage(const std::string& path, Disc& disc, std::string& error)
{
    const std::string extension = Lower(std::filesystem::path(path).extension().string());
    if (extension == ".cue")
        return ReadCueSheet(path, disc, error);
    if (extension == ".ccd")
        return ReadCloneCd(path, disc, error);
    error = path + ": not a disc image (.cue or .ccd)";
    return false;
}

}  // namespace vantrel::vdrive
