#include "vdrive/drive/DriveOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace vantrel::vdrive {
namespace {

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

template <typename Int> bool ParseInt(std::string_view text, Int low, Int high, Int& out)
{
    Int value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

// Splits text at every separator; an empty part is kept (and then refused by the caller).
std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

using Setter = bool (*)(std::string_view value, DriveOptions& options, std::string& why);

bool SetBool(std::string_view value, bool& flag, std::string& why)
{
    if (value == "1" || value == "0") {
        flag = value == "1";
        return true;
    }
    why = "is 0 or 1";
    return false;
}

bool SetText(std::string_view value, std::size_t most, std::string& text, std::string& why)
{
    const bool printable = std::all_of(value.begin(), value.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (value.size() > most || !printable) {
        why = "is at most " + std::to_string(most) + " printable ASCII characters";
        return false;
    }
    text = value;
    return true;
}

template <typename Int> bool SetInt(std::string_view value, Int low, Int high, Int& out, std::string& why)
{
    if (ParseInt(value, low, high, out))
        return true;
    why = "is a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
}

bool SetErrors(std::string_view value, DriveOptions& options, std::string& why)
{
    std::vector<std::int64_t> sectors;
    for (std::string_view part : Split(value, ':')) {
        std::int64_t sector = 0;
        if (!ParseInt<std::int64_t>(Trim(part), 0, 999999, sector)) {
            why = "is a list of sectors from 0 to 999999 separated by ':'";
            return false;
        }
        sectors.push_back(sector);
    }
    std::sort(sectors.begin(), sectors.end());
    sectors.erase(std::unique(sectors.begin(), sectors.end()), sectors.end());
    options.errors = std::move(sectors);
    return true;
}

bool SetSpeeds(std::string_view value, DriveOptions& options, std::string& why)
{
    std::vector<int> speeds;
    for (std::string_view part : Split(value, ':')) {
        int speed = 0;
        if (!ParseInt(Trim(part), 1, 65534, speed)) {
            why = "is a list of speeds in kB/s from 1 to 65534 separated by ':'";
            return false;
        }
        speeds.push_back(speed);
    }
    std::sort(speeds.begin(), speeds.end());
    speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
    options.speeds = std::move(speeds);
    return true;
}

bool SetFamilies(std::string_view value, DriveOptions& options, std::string& why)
{
    static constexpr struct {
        std::string_view name;
        unsigned bits;
    } kNames[] = {{"mmc", family::kMmc},
                  {"msf", family::kMsf},
                  {"sony", family::kSony},
                  {"toshiba", family::kToshiba},
                  {"df", family::kDf},
                  {"all", family::kAll},
                  {"none", 0}};
    unsigned bits = 0;
    for (std::string_view part : Split(value, '+')) {
        const auto* name = std::find_if(std::begin(kNames), std::end(kNames),
                                        [&](const auto& entry) { return entry.name == Trim(part); });
        if (name == std::end(kNames)) {
            why = "is names from mmc, msf, sony, toshiba, df, all, none joined by '+'";
            return false;
        }
        bits |= name->bits;
    }
    options.families = bits;
    return true;
}

bool SetClock(std::string_view value, DriveOptions& options, std::string& why)
{
    double factor = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), factor);
    if (value.empty() || ec != std::errc{} || end != value.data() + value.size() || !std::isfinite(factor) ||
        factor <= 0 || factor > 10000) {
        why = "is a number above 0 and at most 10000";
        return false;
    }
    options.clock = factor;
    return true;
}

struct Key {
    std::string_view name;
    bool boolean;
    Setter set;
};

constexpr Key kKeys[] = {
    {"jitter", false, [](auto v, auto& o, auto& why) { return SetInt(v, 0, 100000, o.jitter, why); }},
    {"seed", false,
     [](auto v, auto& o, auto& why) {
         return SetInt<std::uint64_t>(v, 0, std::numeric_limits<std::uint64_t>::max(), o.seed, why);
     }},
    {"errors", false, SetErrors},
    {"delay", false, [](auto v, auto& o, auto& why) { return SetInt(v, 0, 60000, o.delayMs, why); }},
    {"families", false, SetFamilies},
    {"vendor", false, [](auto v, auto& o, auto& why) { return SetText(v, 8, o.vendor, why); }},
    {"product", false, [](auto v, auto& o, auto& why) { return SetText(v, 16, o.product, why); }},
    {"revision", false, [](auto v, auto& o, auto& why) { return SetText(v, 4, o.revision, why); }},
    {"ansi", false, [](auto v, auto& o, auto& why) { return SetInt(v, 0, 7, o.ansi, why); }},
    {"bcd", true, [](auto v, auto& o, auto& why) { return SetBool(v, o.bcdFullToc, why); }},
    {"plextor", true, [](auto v, auto& o, auto& why) { return SetBool(v, o.plextorQ, why); }},
    {"ignore-speed", true, [](auto v, auto& o, auto& why) { return SetBool(v, o.ignoreSpeed, why); }},
    {"speeds", false, SetSpeeds},
    {"no-cdtext", true, [](auto v, auto& o, auto& why) { return SetBool(v, o.noCdText, why); }},
    {"clock", false, SetClock},
    {"tray-open-at", false,
     [](auto v, auto& o, auto& why) { return SetInt<std::int64_t>(v, 0, 999999, o.trayOpenAt, why); }},
    {"overread", false, [](auto v, auto& o, auto& why) { return SetInt(v, 0, 6750, o.overread, why); }},
};

} // namespace

bool ParseDriveOptions(std::string_view text, DriveOptions& options, std::string& error)
{
    if (Trim(text).empty())
        return true;
    for (std::string_view pair : Split(text, ',')) {
        const std::size_t equals = pair.find('=');
        const std::string_view name = Trim(pair.substr(0, equals));
        const auto* key =
            std::find_if(std::begin(kKeys), std::end(kKeys), [&](const Key& entry) { return entry.name == name; });
        if (key == std::end(kKeys)) {
            error = name.empty() ? "drive options: an empty entry in \"" + std::string(text) + '"'
                                 : "drive option '" + std::string(name) + "' is unknown";
            return false;
        }
        if (equals == std::string_view::npos && !key->boolean) {
            error = "drive option '" + std::string(name) + "' needs a value";
            return false;
        }
        const std::string_view value = equals == std::string_view::npos ? "1" : Trim(pair.substr(equals + 1));
        std::string why;
        if (!key->set(value, options, why)) {
            error =
                "drive option '" + std::string(name) + "': \"" + std::string(value) + "\" is wrong; the value " + why;
            return false;
        }
    }
    return true;
}

} // namespace vantrel::vdrive
