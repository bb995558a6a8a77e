#include "vdrive/CueSheet.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

#include "vdrive/codec/SubLayout.h"
#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive {

namespace {

struct CueTrack {
    int number = 0;
    int line = 0;
    TrackMode mode = TrackMode::Audio;
    bool pre = false, dcp = false, fourCh = false;
    int file = -1;
    int session = 1;
    std::int64_t index0 = -1, index1 = -1;  // file sectors
    std::vector<std::int64_t> more;         // index 2.. in file sectors
    std::int64_t pregap = 0, postgap = 0;
    CdText text;
};

// One line cut into words; a quoted string is one word.
std::vector<std::string> Words(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string word;
        if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            const std::size_t end = close == std::string_view::npos ? line.size() : close;
            word.assign(line.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                word.push_back(line[i++]);
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::optional<std::int64_t> Msf(const std::string& text)
{
    unsigned m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3u:%2u:%2u%c", &m, &s, &f, &tail) != 3 || s >= 60 || f >= 75)
        return std::nullopt;
    return std::int64_t{m} * 4500 + s * 75 + f;
}

std::optional<int> Number(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return std::nullopt;
    const int value = std::stoi(text);
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

class CueReader {
public:
    CueReader(const std::string& name, const std::string& folder, Disc& disc, std::string& error)
        : name_(name), folder_(folder), disc_(disc), error_(error)
    {
    }

    bool Read(std::string_view text)
    {
        int lineNumber = 0;
        std::size_t at = 0;
        while (at <= text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            ++lineNumber;
            if (lineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
                line.remove_prefix(3);  // a UTF-8 byte-order mark
            if (!Line(line, lineNumber))
                return false;
            if (end == text.size())
                break;
            at = end + 1;
        }
        return Finish();
    }

private:
    bool Fail(int line, const std::string& what)
    {
        error_ = name_ + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool Line(std::string_view text, int line)
    {
        if (text.find('\0') != std::string_view::npos)
            return Fail(line, "NUL byte in the sheet");
        const std::vector<std::string> w = Words(text);
        if (w.empty())
            return true;
        const std::string command = Upper(w[0]);
        if (command == "REM")
            return Rem(w, line);
        if (command == "FILE")
            return File(w, line);
        if (command == "TRACK")
            return TrackLine(w, line);
        if (command == "INDEX")
            return Index(w, line);
        if (command == "PREGAP" || command == "POSTGAP")
            return Gap(w, line, command == "PREGAP");
        if (command == "FLAGS")
            return Flags(w, line);
        if (command == "TITLE" || command == "PERFORMER" || command == "SONGWRITER")
            return Text(w, line, command);
        if (command == "CDTEXTFILE")
            return CdTextFile(w, line);
        if (command == "CATALOG" || command == "ISRC")
            return true;
        return Fail(line, "unknown command '" + w[0] + "'");
    }

    bool Rem(const std::vector<std::string>& w, int line)
    {
        if (w.size() >= 2 && Upper(w[1]) == "SESSION") {
            const auto number = w.size() == 3 ? Number(w[2], 1, 99) : std::nullopt;
            if (!number || *number < session_)
                return Fail(line, "bad session number");
            session_ = *number;
        }
        return true;  // other remarks carry nothing the drive needs
    }

    bool File(const std::vector<std::string>& w, int line)
    {
        if (w.size() != 3)
            return Fail(line, "FILE needs a name and a type");
        const std::string type = Upper(w[2]);
        if (type != "BINARY")
            return Fail(line, "file type " + w[2] + " is not supported (only BINARY)");
        const std::string path = (std::filesystem::path(folder_) / w[1]).string();
        std::string why;
        const int file = disc_.AddFile(path, why);
        if (file < 0)
            return Fail(line, "cannot open " + why);
        if (disc_.FileSize(file) % kSectorBytes != 0)
            return Fail(line, path + ": size " + std::to_string(disc_.FileSize(file)) +
                                  " is not a whole number of 2352-byte sectors");
        file_ = file;
        lastPosition_ = 0;
        fileSectors_.resize(static_cast<std::size_t>(file + 1), 0);
        fileSectors_[static_cast<std::size_t>(file)] = disc_.FileSize(file) / kSectorBytes;
        return true;
    }

    bool TrackLine(const std::vector<std::string>& w, int line)
    {
        if (file_ < 0)
            return Fail(line, "TRACK before any FILE");
        const auto number = w.size() == 3 ? Number(w[1], 1, 99) : std::nullopt;
        if (!number)
            return Fail(line, "bad track number");
        if (!tracks_.empty() && *number != tracks_.back().number + 1)
            return Fail(line, "track numbers must follow one another");
        if (!tracks_.empty() && tracks_.back().index1 < 0)
            return Fail(tracks_.back().line, "track " + std::to_string(tracks_.back().number) + " has no INDEX 01");
        CueTrack track;
        track.number = *number;
        track.line = line;
        track.file = file_;
        track.session = session_;
        const std::string mode = Upper(w[2]);
        if (mode == "AUDIO")
            track.mode = TrackMode::Audio;
        else if (mode == "MODE1/2352")
            track.mode = TrackMode::Mode1Raw;
        else
            return Fail(line, "track mode " + w[2] + " is not supported (AUDIO or MODE1/2352)");
        tracks_.push_back(track);
        return true;
    }

    bool Index(const std::vector<std::string>& w, int line)
    {
        if (tracks_.empty())
            return Fail(line, "INDEX before any TRACK");
        CueTrack& track = tracks_.back();
        if (track.file != file_)
            return Fail(line, "INDEX in another FILE than its TRACK");
        const auto number = w.size() == 3 ? Number(w[1], 0, 99) : std::nullopt;
        const auto position = w.size() == 3 ? Msf(w[2]) : std::nullopt;
        if (!number || !position)
            return Fail(line, "INDEX needs a number and mm:ss:ff");
        if (*position > fileSectors_[static_cast<std::size_t>(file_)])
            return Fail(line, "INDEX lies beyond the end of the file");
        if (*position < lastPosition_)
            return Fail(line, "INDEX goes backwards");
        const int expected = track.index1 < 0 ? (track.index0 < 0 ? -1 : 1) : 2 + static_cast<int>(track.more.size());
        if (*number == 0 && track.index0 < 0 && track.index1 < 0)
            track.index0 = *position;
        else if (*number == 1 && track.index1 < 0)
            track.index1 = *position;
        else if (*number >= 2 && *number == expected && track.index1 >= 0)
            track.more.push_back(*position);
        else
            return Fail(line, "INDEX " + w[1] + " out of order");
        lastPosition_ = *position;
        return true;
    }

    bool Gap(const std::vector<std::string>& w, int line, bool pregap)
    {
        if (tracks_.empty())
            return Fail(line, std::string(pregap ? "PREGAP" : "POSTGAP") + " before any TRACK");
        const auto length = w.size() == 2 ? Msf(w[1]) : std::nullopt;
        if (!length)
            return Fail(line, "gap needs mm:ss:ff");
        CueTrack& track = tracks_.back();
        if (pregap && track.index1 >= 0)
            return Fail(line, "PREGAP after INDEX 01");
        (pregap ? track.pregap : track.postgap) = *length;
        return true;
    }

    bool Flags(const std::vector<std::string>& w, int line)
    {
        if (tracks_.empty())
            return Fail(line, "FLAGS before any TRACK");
        for (std::size_t i = 1; i < w.size(); ++i) {
            const std::string flag = Upper(w[i]);
            if (flag == "PRE")
                tracks_.back().pre = true;
            else if (flag == "DCP")
                tracks_.back().dcp = true;
            else if (flag == "4CH")
                tracks_.back().fourCh = true;
            else if (flag != "SCMS")
                return Fail(line, "unknown flag '" + w[i] + "'");
        }
        return true;
    }

    bool Text(const std::vector<std::string>& w, int line, const std::string& command)
    {
        if (w.size() != 2)
            return Fail(line, command + " needs one text");
        CdText& text = tracks_.empty() ? disc_.albumText : tracks_.back().text;
        (command == "TITLE" ? text.title : command == "PERFORMER" ? text.performer : text.songwriter) = w[1];
        return true;
    }

    bool CdTextFile(const std::vector<std::string>& w, int line)
    {
        if (w.size() != 2)
            return Fail(line, "CDTEXTFILE needs a name");
        const std::string path = (std::filesystem::path(folder_) / w[1]).string();
        std::string text, why;
        if (!ReadWholeFile(path, 1 << 20, text, why))
            return Fail(line, why);
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        // Files hold the packs, sometimes behind the 4-byte header of the READ TOC answer
        // and sometimes with one closing zero byte.
        std::size_t skip = bytes.size() % 18 >= 4 ? 4 : 0;
        const std::size_t packs = (bytes.size() - skip) / 18;
        if (packs == 0 || bytes.size() - skip - packs * 18 > 1)
            return Fail(line, path + ": not a CD-Text file (" + std::to_string(bytes.size()) + " bytes)");
        disc_.cdTextPacks.assign(bytes.begin() + static_cast<long>(skip),
                                 bytes.begin() + static_cast<long>(skip + packs * 18));
        return true;
    }

    void Map(std::int64_t& lba, int file, std::int64_t from, std::int64_t count)
    {
        if (count <= 0)
            return;
        disc_.extents.push_back(Extent{lba, count, file, from * kSectorBytes, -1, 0});
        lba += count;
    }

    bool Finish()
    {
        if (tracks_.empty())
            return Fail(0, "no tracks");
        if (tracks_.back().index1 < 0)
            return Fail(tracks_.back().line, "track " + std::to_string(tracks_.back().number) + " has no INDEX 01");

        std::int64_t lba = 0;
        int file = -1;
        std::int64_t filePos = 0;
        Track* previous = nullptr;
        const CueTrack* previousCue = nullptr;
        for (const CueTrack& cue : tracks_) {
            if (cue.file != file) {
                if (file >= 0)
                    Map(lba, file, filePos, fileSectors_[static_cast<std::size_t>(file)] - filePos);
                file = cue.file;
                filePos = 0;
            }
            const std::int64_t first = cue.index0 >= 0 ? cue.index0 : cue.index1;
            Map(lba, file, filePos, first - filePos);
            filePos = std::max(filePos, first);
            if (previousCue) {
                lba += previousCue->postgap;
                previous->end = lba;
                if (previous->end <= previous->start)
                    return Fail(previousCue->line, "track " + std::to_string(previous->number) + " holds no sectors");
            }
            if (previous && cue.session != previous->session) {
                disc_.sessions.push_back(Session{previous->session, sessionFirst_, previous->number, lba});
                sessionFirst_ = cue.number;
                lba += kSessionGapSectors;
            }
            Track track;
            track.number = cue.number;
            track.session = cue.session;
            track.mode = cue.mode;
            track.preEmphasis = cue.pre;
            track.copyPermitted = cue.dcp;
            track.fourChannel = cue.fourCh;
            track.text = cue.text;
            track.pregapStart = lba;
            if (cue.index0 >= 0) {
                Map(lba, file, cue.index0, cue.index1 - cue.index0);
                filePos = cue.index1;
            }
            lba += cue.pregap;
            track.start = lba;
            for (const std::int64_t at : cue.more)
                track.moreIndexes.push_back(track.start + (at - cue.index1));
            disc_.tracks.push_back(track);
            previous = &disc_.tracks.back();
            previousCue = &cue;
        }
        Map(lba, file, filePos, fileSectors_[static_cast<std::size_t>(file)] - filePos);
        lba += previousCue->postgap;
        previous->end = lba;
        disc_.sessions.push_back(Session{previous->session, sessionFirst_, previous->number, lba});
        if (previous->end <= previous->start)
            return Fail(previousCue->line, "track " + std::to_string(previous->number) + " holds no sectors");
        return AttachSubFile();
    }

    // A .sub beside the image, for a single-file image: one 96-byte record per sector.
    bool AttachSubFile()
    {
        if (fileSectors_.size() != 1)
            return true;
        std::filesystem::path sub = disc_.FilePath(0);
        sub.replace_extension(".sub");
        if (!std::filesystem::exists(sub)) {
            sub = std::filesystem::path(folder_) / std::filesystem::path(name_).filename();
            sub.replace_extension(".sub");
            if (!std::filesystem::exists(sub))
                return true;
        }
        std::string why;
        if (!disc_.AttachSubFile(sub.string(), 0, fileSectors_[0], why))
            return Fail(0, why);
        return true;
    }

    std::string name_, folder_;
    Disc& disc_;
    std::string& error_;
    std::vector<CueTrack> tracks_;
    std::vector<std::int64_t> fileSectors_;
    int file_ = -1;
    int session_ = 1;
    int sessionFirst_ = 1;
    std::int64_t lastPosition_ = 0;
};

}  // namespace

bool ReadCueText(std::string_view text, const std::string& name, const std::string& folder, Disc& disc,
                 std::string& error)
{
    disc = Disc();
    CueReader reader(name, folder, disc, error);
    if (reader.Read(text))
        return true;
    disc = Disc();
    return false;
}

bool ReadCueSheet(const std::string& path, Disc& disc, std::string& error)
{
    std::string text, why;
    if (!ReadWholeFile(path, 1 << 20, text, why)) {
        error = why;
        return false;
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return ReadCueText(text, path, folder.empty() ? "." : folder, disc, error);
}

}  // namespace vantrel::vdrive
