#include "vdrive/DiscMaker.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "vdrive/Disc.h"
#include "vdrive/codec/CdTextPacks.h"
#include "vdrive/codec/CdgPack.h"
#include "vdrive/codec/SubLayout.h"
#include "vdrive/codec/SubQ.h"

namespace vantrel::vdrive {

void CounterSample(std::int64_t n, std::int16_t& left, std::int16_t& right)
{
    const auto u = static_cast<std::uint64_t>(n);
    left = static_cast<std::int16_t>(static_cast<std::uint16_t>(u & 0xFFFF));
    right = static_cast<std::int16_t>(static_cast<std::uint16_t>(0x8000 | ((u >> 16) & 0x7FFF)));
}

std::int64_t CounterPosition(std::int16_t left, std::int16_t right)
{
    const auto r = static_cast<std::uint16_t>(right);
    if (!(r & 0x8000))
        return -1;
    return static_cast<std::int64_t>((std::uint64_t{r & 0x7FFFu} << 16) | static_cast<std::uint16_t>(left));
}

namespace {

// ---- the description ----

std::optional<std::int64_t> ParseMsf(const std::string& text)
{
    unsigned m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%3u:%2u:%2u%c", &m, &s, &f, &tail) != 3 || s >= 60 || f >= 75)
        return std::nullopt;
    return std::int64_t{m} * 4500 + s * 75 + f;
}

// key=value words; a value may be quoted.
bool SplitStatement(std::string_view line, std::string& head, std::vector<std::pair<std::string, std::string>>& pairs,
                    std::string& error)
{
    std::size_t i = 0;
    auto skip = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
    };
    skip();
    while (i < line.size() && line[i] != ' ' && line[i] != '\t')
        head.push_back(line[i++]);
    while (true) {
        skip();
        if (i >= line.size())
            return true;
        std::string key, value;
        while (i < line.size() && line[i] != '=' && line[i] != ' ')
            key.push_back(line[i++]);
        if (i >= line.size() || line[i] != '=') {
            error = "'" + key + "' needs a value (key=value)";
            return false;
        }
        ++i;
        if (i < line.size() && line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                error = "unclosed quote";
                return false;
            }
            value.assign(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                value.push_back(line[i++]);
        }
        pairs.emplace_back(std::move(key), std::move(value));
    }
}

bool Flag(const std::string& value) { return value == "1" || value == "yes" || value == "on"; }

// ---- the layout ----

struct Layout {
    Disc model;                              // tracks and sessions, no files
    std::vector<std::int64_t> storedFrom;    // per track: first LBA stored in the image
    std::vector<std::int64_t> silentPregap;  // per track: PREGAP sectors not stored
    std::int64_t hidden = 0;
};

Layout PlanLayout(const DiscPlan& plan)
{
    Layout layout;
    layout.hidden = plan.hidden;
    std::int64_t lba = 0;
    int sessionFirst = 1;
    for (std::size_t i = 0; i < plan.tracks.size(); ++i) {
        const TrackPlan& t = plan.tracks[i];
        const int number = static_cast<int>(i + 1);
        if (i > 0 && t.session != plan.tracks[i - 1].session) {
            layout.model.sessions.push_back(Session{plan.tracks[i - 1].session, sessionFirst, number - 1, lba});
            sessionFirst = number;
            lba += kSessionGapSectors;
        }
        Track track;
        track.number = number;
        track.session = t.session;
        track.mode = t.data ? TrackMode::Mode1Raw : TrackMode::Audio;
        track.preEmphasis = t.preEmphasis;
        track.copyPermitted = t.copyPermitted;
        track.text = CdText{t.title, t.performer, t.songwriter};
        track.pregapStart = lba;
        std::int64_t silent = 0;
        if (i == 0) {
            lba += plan.hidden;
        } else if (t.session != plan.tracks[i - 1].session) {
            silent = t.pregap > 0 ? t.pregap : 150;  // a new session's first pre-gap is not stored
        } else {
            lba += t.pregap;
        }
        layout.storedFrom.push_back(track.pregapStart + silent);
        layout.silentPregap.push_back(silent);
        lba += silent;
        track.start = lba;
        for (const std::int64_t at : t.indexes)
            track.moreIndexes.push_back(track.start + at);
        lba += t.length;
        track.end = lba;
        layout.model.tracks.push_back(track);
    }
    layout.model.sessions.push_back(Session{plan.tracks.back().session, sessionFirst,
                                            static_cast<int>(plan.tracks.size()), lba});
    layout.model.albumText = CdText{plan.title, plan.performer, plan.songwriter};
    return layout;
}

// ---- sector content ----

void AudioSector(const TrackPlan& t, const Track& track, std::int64_t lba, bool hiddenArea, std::uint8_t* out)
{
    const bool gap = lba < track.start && !hiddenArea;
    for (int i = 0; i < kSectorBytes / 4; ++i) {
        std::int16_t left = 0, right = 0;
        const std::int64_t n = (lba + 150) * (kSectorBytes / 4) + i;
        if (!gap && t.audio == TrackPlan::Audio::Counter) {
            CounterSample(n, left, right);
        } else if (!gap && t.audio == TrackPlan::Audio::Tone) {
            const double phase = 2.0 * 3.14159265358979323846 * t.toneHz * static_cast<double>(n) / 44100.0;
            left = right = static_cast<std::int16_t>(std::lround(std::sin(phase) * 16000.0));
        }
        out[4 * i + 0] = static_cast<std::uint8_t>(left & 0xFF);
        out[4 * i + 1] = static_cast<std::uint8_t>((left >> 8) & 0xFF);
        out[4 * i + 2] = static_cast<std::uint8_t>(right & 0xFF);
        out[4 * i + 3] = static_cast<std::uint8_t>((right >> 8) & 0xFF);
    }
}

std::uint8_t Bcd(std::int64_t v) { return static_cast<std::uint8_t>((v / 10) * 16 + v % 10); }

void DataSector(std::int64_t lba, std::uint8_t* out)
{
    std::fill(out, out + kSectorBytes, 0);
    std::fill(out + 1, out + 11, 0xFF);  // sync: 00, ten FF, 00
    const std::int64_t a = lba + 150;
    out[12] = Bcd(a / 4500);
    out[13] = Bcd(a / 75 % 60);
    out[14] = Bcd(a % 75);
    out[15] = 1;  // mode 1
    for (int i = 0; i < 2048; ++i)
        out[16 + i] = static_cast<std::uint8_t>((lba + i) & 0xFF);
}

// The graphics of a CD+G track: the colour tables, a cleared screen and border, then tiles
// drawn across the screen normally and by XOR, a scroll and a transparent colour, over
// and over; every other pack is empty, as on karaoke discs.
CdgPack CdgInstruction(std::int64_t k)
{
    static const std::array<CdgColour, 8> low{{{0, 0, 0}, {15, 0, 0}, {0, 15, 0}, {0, 0, 15},
                                               {15, 15, 0}, {0, 15, 15}, {15, 0, 15}, {15, 15, 15}}};
    static const std::array<CdgColour, 8> high{{{7, 7, 7}, {8, 0, 0}, {0, 8, 0}, {0, 0, 8},
                                                {8, 8, 0}, {0, 8, 8}, {8, 0, 8}, {3, 5, 9}}};
    const std::int64_t step = k % 64;
    switch (step) {
    case 0: return CdgPacks::LoadClutLow(low);
    case 1: return CdgPacks::LoadClutHigh(high);
    case 2: return CdgPacks::MemoryPreset(static_cast<std::uint8_t>(k / 64 % 16));
    case 3: return CdgPacks::BorderPreset(2);
    case 60: return CdgPacks::ScrollPreset(4, CdgHScroll::Left, 2, CdgVScroll::None, 0);
    case 61: return CdgPacks::ScrollCopy(CdgHScroll::None, 0, CdgVScroll::Up, 3);
    case 62: return CdgPacks::DefineTransparent(0);
    case 63: return CdgPacks::Empty();
    default: break;
    }
    CdgPacks::TileRows rows{};
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = static_cast<std::uint8_t>((step + r) & 0x3F);
    const auto row = static_cast<std::uint8_t>(1 + step % 16);
    const auto column = static_cast<std::uint8_t>(1 + (step * 7 + k / 64) % 48);
    return step % 3 == 0 ? CdgPacks::TileBlockXor(3, 12, row, column, rows)
                         : CdgPacks::TileBlock(1, static_cast<std::uint8_t>(step % 16), row, column, rows);
}

bool WriteAll(std::ofstream& out, const std::uint8_t* bytes, std::size_t n)
{
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
    return static_cast<bool>(out);
}

std::string MsfText(std::int64_t frames)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(frames / 4500),
                  static_cast<int>(frames / 75 % 60), static_cast<int>(frames % 75));
    return text;
}

std::string Quoted(const std::string& text)
{
    std::string q = "\"";
    for (const char c : text)
        if (c != '"' && c != '\r' && c != '\n')
            q.push_back(c);
    return q + "\"";
}


void Entry(std::ostringstream& out, int& number, int session, int point, int control, std::int64_t plba, int pmin,
           int psec, int pframe)
{
    out << "[Entry " << number++ << "]\r\nSession=" << session << "\r\n";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02x", point);
    out << "Point=" << hex << "\r\nADR=0x01\r\n";
    std::snprintf(hex, sizeof hex, "0x%02x", control);
    out << "Control=" << hex << "\r\nTrackNo=0\r\nAMin=0\r\nASec=0\r\nAFrame=0\r\nALBA=-150\r\nZero=0\r\n";
    out << "PMin=" << pmin << "\r\nPSec=" << psec << "\r\nPFrame=" << pframe << "\r\nPLBA=" << plba << "\r\n";
}

void AddressEntry(std::ostringstream& out, int& number, int session, int point, int control, std::int64_t lba)
{
    const std::int64_t a = lba + 150;
    Entry(out, number, session, point, control, lba, static_cast<int>(a / 4500), static_cast<int>(a / 75 % 60),
          static_cast<int>(a % 75));
}

bool WriteCloneCdControl(const DiscPlan& plan, const Layout& layout, const std::string& base, std::string& imagePath,
                         std::string& error)
{
    const Disc& model = layout.model;
    CdTextBlock block{plan.title, plan.performer, plan.songwriter, {}, {}, {}, 1, 0x09};
    for (const TrackPlan& t : plan.tracks) {
        block.trackTitles.push_back(t.title);
        block.trackPerformers.push_back(t.performer);
        block.trackSongwriters.push_back(t.songwriter);
    }
    const std::vector<std::uint8_t> packs = BuildCdTextPacks(block);

    std::ostringstream out;
    out << "[CloneCD]\r\nVersion=3\r\n[Disc]\r\nTocEntries=" << model.sessions.size() * 3 + model.tracks.size()
        << "\r\nSessions=" << model.sessions.size() << "\r\nDataTracksScrambled=0\r\nCDTextLength=" << packs.size()
        << "\r\n";
    if (!packs.empty()) {
        out << "[CDText]\r\nEntries=" << packs.size() / 18 << "\r\n";
        for (std::size_t p = 0; p < packs.size() / 18; ++p) {
            out << "Entry " << p << "=";
            for (std::size_t b = 0; b < 18; ++b) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02x", packs[p * 18 + b]);
                out << hex << (b + 1 < 18 ? " " : "");
            }
            out << "\r\n";
        }
    }
    for (const Session& s : model.sessions)
        out << "[Session " << s.number << "]\r\nPreGapMode=" << (s.number == 1 ? 0 : 1) << "\r\nPreGapSubC=0\r\n";
    int number = 0;
    for (const Session& s : model.sessions) {
        const int control = model.FindTrack(s.firstTrack)->Control();
        Entry(out, number, s.number, 0xA0, control, (s.firstTrack * 4500) - 150, s.firstTrack, 0, 0);
        Entry(out, number, s.number, 0xA1, control, (s.lastTrack * 4500) - 150, s.lastTrack, 0, 0);
        AddressEntry(out, number, s.number, 0xA2, control, s.leadOut);
        for (int t = s.firstTrack; t <= s.lastTrack; ++t) {
            const Track* track = model.FindTrack(t);
            AddressEntry(out, number, s.number, t, track->Control(), track->start);
        }
    }
    for (const Track& t : model.tracks) {
        out << "[TRACK " << t.number << "]\r\nMODE=" << (t.mode == TrackMode::Audio ? 0 : 1) << "\r\n";
        if (t.pregapStart < t.start)
            out << "INDEX 0=" << t.pregapStart << "\r\n";
        out << "INDEX 1=" << t.start << "\r\n";
        for (std::size_t k = 0; k < t.moreIndexes.size(); ++k)
            out << "INDEX " << k + 2 << "=" << t.moreIndexes[k] << "\r\n";
    }
    imagePath = base + ".ccd";
    std::ofstream file(imagePath, std::ios::binary | std::ios::trunc);
    const std::string text = out.str();
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!file) {
        error = "cannot write " + imagePath;
        return false;
    }
    return true;
}

}  // namespace

bool ParseDiscPlan(std::string_view text, DiscPlan& plan, std::string& error)
{
    plan = DiscPlan{};
    int lineNumber = 0;
    std::istringstream lines{std::string(text)};
    std::string line;
    bool sawDisc = false;
    while (std::getline(lines, line)) {
        ++lineNumber;
        if (const auto hash = line.find('#'); hash != std::string::npos && line.find('"') > hash)
            line.resize(hash);
        std::string head, why;
        std::vector<std::pair<std::string, std::string>> pairs;
        auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (!SplitStatement(line, head, pairs, why))
            return fail(why);
        if (head.empty())
            continue;
        if (head == "disc") {
            if (sawDisc || !plan.tracks.empty())
                return fail("'disc' must come once, before the tracks");
            sawDisc = true;
            for (const auto& [key, value] : pairs) {
                if (key == "format" && (value == "cue" || value == "ccd"))
                    plan.format = value == "cue" ? DiscPlan::Format::Cue : DiscPlan::Format::Ccd;
                else if (key == "sub" && (value == "none" || value == "raw" || value == "channels"))
                    plan.sub = value == "none" ? DiscPlan::Sub::None
                               : value == "raw" ? DiscPlan::Sub::Raw
                                                : DiscPlan::Sub::Channels;
                else if (key == "name" && !value.empty() && value.find('/') == std::string::npos)
                    plan.name = value;
                else if (key == "hidden" && ParseMsf(value))
                    plan.hidden = *ParseMsf(value);
                else if (key == "title")
                    plan.title = value;
                else if (key == "performer")
                    plan.performer = value;
                else if (key == "songwriter")
                    plan.songwriter = value;
                else if (long long pack = 0; key == "cdg-error" && std::sscanf(value.c_str(), "%lld:", &pack) == 1 &&
                                             value.find(':') != std::string::npos) {
                    const int symbol = std::atoi(value.c_str() + value.find(':') + 1);
                    if (pack < 0 || symbol < 0 || symbol > 23)
                        return fail("bad cdg-error " + value);
                    plan.cdgErrors.emplace_back(pack, symbol);
                } else
                    return fail("bad disc setting " + key + "=" + value);
            }
        } else if (head == "track") {
            TrackPlan t;
            bool hasLength = false;
            for (const auto& [key, value] : pairs) {
                const auto msf = ParseMsf(value);
                if (key == "length" && msf && *msf > 0) {
                    t.length = *msf;
                    hasLength = true;
                } else if (key == "pregap" && msf)
                    t.pregap = *msf;
                else if (key == "index" && msf && *msf > 0 && (t.indexes.empty() || *msf > t.indexes.back()))
                    t.indexes.push_back(*msf);
                else if (key == "audio" && value == "counter")
                    t.audio = TrackPlan::Audio::Counter;
                else if (key == "audio" && value == "silence")
                    t.audio = TrackPlan::Audio::Silence;
                else if (key == "audio" && value.rfind("tone:", 0) == 0 && std::atof(value.c_str() + 5) > 0) {
                    t.audio = TrackPlan::Audio::Tone;
                    t.toneHz = std::atof(value.c_str() + 5);
                } else if (key == "pre")
                    t.preEmphasis = Flag(value);
                else if (key == "dcp")
                    t.copyPermitted = Flag(value);
                else if (key == "data")
                    t.data = Flag(value);
                else if (key == "cdg")
                    t.cdg = Flag(value);
                else if (key == "session" && (value == "1" || value == "2"))
                    t.session = value[0] - '0';
                else if (key == "title")
                    t.title = value;
                else if (key == "performer")
                    t.performer = value;
                else if (key == "songwriter")
                    t.songwriter = value;
                else
                    return fail("bad track setting " + key + "=" + value);
            }
            if (!hasLength)
                return fail("a track needs length=MM:SS:FF");
            if (!t.indexes.empty() && t.indexes.back() >= t.length)
                return fail("an index lies beyond the track's end");
            if (!plan.tracks.empty() && t.session < plan.tracks.back().session)
                return fail("sessions must not go back");
            if (plan.tracks.empty() && t.session != 1)
                return fail("the first track is in session 1");
            if (plan.tracks.size() == 99)
                return fail("a disc holds at most 99 tracks");
            plan.tracks.push_back(t);
        } else {
            return fail("unknown statement '" + head + "' (disc or track)");
        }
    }
    if (plan.tracks.empty()) {
        error = "the description has no tracks";
        return false;
    }
    return true;
}

bool MakeDisc(const DiscPlan& plan, const std::string& folder, std::string& imagePath, std::string& error)
{
    if (plan.tracks.empty()) {
        error = "no tracks";
        return false;
    }
    const bool ccd = plan.format == DiscPlan::Format::Ccd;
    Layout layout = PlanLayout(plan);
    if (ccd)  // a CloneCD image also stores the pre-gap of a later session's first track
        for (std::size_t i = 0; i < layout.storedFrom.size(); ++i)
            layout.storedFrom[i] = layout.model.tracks[i].pregapStart;
    const std::filesystem::path base = std::filesystem::path(folder) / plan.name;
    const std::string binName = plan.name + (ccd ? ".img" : ".bin");
    std::ofstream bin(base.string() + (ccd ? ".img" : ".bin"), std::ios::binary | std::ios::trunc);
    std::ofstream sub;
    if (plan.sub != DiscPlan::Sub::None)
        sub.open(base.string() + ".sub", std::ios::binary | std::ios::trunc);
    if (!bin || (plan.sub != DiscPlan::Sub::None && !sub)) {
        error = "cannot write " + base.string() + (ccd ? ".img" : ".bin");
        return false;
    }

    std::map<std::int64_t, std::vector<int>> errors;
    for (const auto& [pack, symbol] : plan.cdgErrors)
        errors[pack].push_back(symbol);

    CdgInterleaver interleaver;
    std::uint8_t sector[kSectorBytes];
    std::uint8_t raw[kSubBytes];
    std::uint8_t packs[4 * kCdgPackSymbols];
    std::uint8_t q[kQFrameBytes];
    for (std::size_t i = 0; i < plan.tracks.size(); ++i) {
        const TrackPlan& t = plan.tracks[i];
        const Track& track = layout.model.tracks[i];
        for (std::int64_t lba = layout.storedFrom[i]; lba < track.end; ++lba) {
            if (t.data)
                DataSector(lba, sector);
            else
                AudioSector(t, track, lba, i == 0 && lba < track.start, sector);
            if (!WriteAll(bin, sector, sizeof sector)) {
                error = "cannot write " + base.string() + (ccd ? ".img" : ".bin");
                return false;
            }
            if (plan.sub == DiscPlan::Sub::None)
                continue;
            for (int p = 0; p < 4; ++p) {
                const std::int64_t number = lba * 4 + p;
                CdgPack pack = t.cdg && lba >= track.start ? (number % 2 == 0 ? CdgInstruction(number / 2 - track.start * 2)
                                                                              : CdgPacks::Empty())
                                                           : CdgPacks::Empty();
                if (const auto spoil = errors.find(number); spoil != errors.end())
                    for (const int symbol : spoil->second)
                        pack[static_cast<std::size_t>(symbol)] ^= 0x15;
                std::copy(pack.begin(), pack.end(), packs + p * kCdgPackSymbols);
            }
            interleaver.Interleave(packs, 4);
            std::fill(raw, raw + kSubBytes, 0);
            PutRw(raw, packs);
            layout.model.MakeQ(lba, q);
            PutQ(raw, q);
            PutP(raw, lba < track.start);
            if (plan.sub == DiscPlan::Sub::Channels) {
                std::uint8_t channels[kSubBytes];
                RawToChannels(raw, channels);
                std::copy(channels, channels + kSubBytes, raw);
            }
            if (!WriteAll(sub, raw, sizeof raw)) {
                error = "cannot write " + base.string() + ".sub";
                return false;
            }
        }
    }

    if (ccd)
        return WriteCloneCdControl(plan, layout, base.string(), imagePath, error);

    std::ostringstream cue;
    if (!plan.title.empty())
        cue << "TITLE " << Quoted(plan.title) << "\r\n";
    if (!plan.performer.empty())
        cue << "PERFORMER " << Quoted(plan.performer) << "\r\n";
    if (!plan.songwriter.empty())
        cue << "SONGWRITER " << Quoted(plan.songwriter) << "\r\n";
    cue << "FILE " << Quoted(binName) << " BINARY\r\n";
    std::int64_t filePos = 0;
    for (std::size_t i = 0; i < plan.tracks.size(); ++i) {
        const TrackPlan& t = plan.tracks[i];
        const Track& track = layout.model.tracks[i];
        char number[8];
        std::snprintf(number, sizeof number, "%02d", track.number);
        if (i > 0 && t.session != plan.tracks[i - 1].session)
            cue << "REM SESSION " << std::string(t.session < 10 ? "0" : "") << t.session << "\r\n";
        cue << "  TRACK " << number << (t.data ? " MODE1/2352" : " AUDIO") << "\r\n";
        if (!t.title.empty())
            cue << "    TITLE " << Quoted(t.title) << "\r\n";
        if (!t.performer.empty())
            cue << "    PERFORMER " << Quoted(t.performer) << "\r\n";
        if (!t.songwriter.empty())
            cue << "    SONGWRITER " << Quoted(t.songwriter) << "\r\n";
        if (t.preEmphasis || t.copyPermitted)
            cue << "    FLAGS" << (t.copyPermitted ? " DCP" : "") << (t.preEmphasis ? " PRE" : "") << "\r\n";
        if (layout.silentPregap[i] > 0)
            cue << "    PREGAP " << MsfText(layout.silentPregap[i]) << "\r\n";
        const std::int64_t stored = track.start - layout.storedFrom[i];
        if (stored > 0)
            cue << "    INDEX 00 " << MsfText(filePos) << "\r\n";
        cue << "    INDEX 01 " << MsfText(filePos + stored) << "\r\n";
        for (std::size_t k = 0; k < t.indexes.size(); ++k)
            cue << "    INDEX " << (k + 2 < 10 ? "0" : "") << k + 2 << " " << MsfText(filePos + stored + t.indexes[k])
                << "\r\n";
        filePos += track.end - layout.storedFrom[i];
    }
    imagePath = base.string() + ".cue";
    std::ofstream cueFile(imagePath, std::ios::binary | std::ios::trunc);
    const std::string cueText = cue.str();
    cueFile.write(cueText.data(), static_cast<std::streamsize>(cueText.size()));
    if (!cueFile) {
        error = "cannot write " + imagePath;
        return false;
    }
    return true;
}

}  // namespace vantrel::vdrive
