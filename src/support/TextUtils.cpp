#include "support/TextUtils.h"

#include <charconv>
#include <cmath>

#include "support/Charsets.h"

namespace vantrel {

namespace {
constexpr std::string_view kUnsafeFileNameChars = ":;*?\"<>|";

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
} // namespace

std::string SafeFileName(std::string_view text, std::string_view replacement)
{
    // One character after another, in the order above: a replacement that itself holds
    // a later character is replaced again, one that holds the same character is not.
    std::string result(text);
    for (const char unsafe : kUnsafeFileNameChars) {
        if (result.find(unsafe) == std::string::npos)
            continue;
        std::string next;
        next.reserve(result.size());
        for (const char c : result) {
            if (c == unsafe)
                next.append(replacement);
            else
                next.push_back(c);
        }
        result.swap(next);
    }
    return result;
}

std::string EscapeAmpersands(std::string_view text)
{
    std::string result;
    result.reserve(text.size() + 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        result.push_back(text[i]);
        if (text[i] != '&')
            continue;
        result.push_back('&');
        if (i + 1 < text.size() && text[i + 1] == '&')
            ++i; // an existing pair stays as it is
    }
    return result;
}

std::int64_t HexToIntDef(std::string_view text, std::int64_t def)
{
    const std::string_view hex = TrimControl(text);
    if (hex.empty())
        return def;
    std::uint64_t value = 0;
    for (const char c : hex)
        if (!IsHexDigit(c))
            return def;
    const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (ec != std::errc() || end != hex.data() + hex.size() || value > static_cast<std::uint64_t>(INT64_MAX))
        return def;
    return static_cast<std::int64_t>(value);
}

int CharsetFromName(std::string_view text)
{
    return CharsetNumber(UpperAscii(TrimControl(text))).value_or(DEFAULT_CHARSET);
}

std::string_view TrimControl(std::string_view text)
{
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string UpperAscii(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string LowerAscii(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

namespace {
// Drops one leading "+"; false when nothing that could be a number is left.
bool StripPlus(std::string_view& text)
{
    const bool plus = !text.empty() && text.front() == '+';
    if (plus)
        text.remove_prefix(1);
    return !text.empty() && !(plus && text.front() == '-');
}
} // namespace

std::optional<std::int64_t> ParseDecimal(std::string_view text)
{
    if (!StripPlus(text))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> ParseFloat(std::string_view text)
{
    if (!StripPlus(text))
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace vantrel
