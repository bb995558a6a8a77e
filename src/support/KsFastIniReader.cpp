#include "support/KsFastIniReader.h"

#include <charconv>
#include <new>

#include "support/Charsets.h"
#include "support/IniText.h"
#include "support/TextUtils.h"

namespace vantrel {

namespace {

bool IsHeaderLine(std::string_view line)
{
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

std::optional<int> HexByte(std::string_view two)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(two.data(), two.data() + 2, value, 16);
    if (ec != std::errc() || end != two.data() + 2)
        return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace

TKsFastIniReader::TKsFastIniReader(const std::string& fileName) : fileName_(fileName)
{
    bytes_ = ini_detail::LoadFile(fileName);
    Index(bytes_);
}

TKsFastIniReader::TKsFastIniReader(Text text)
{
    try {
        bytes_.assign(text.bytes);
    } catch (const std::bad_alloc&) {
        bytes_.clear();
    }
    Index(bytes_);
}

void TKsFastIniReader::Index(std::string_view text)
{
    try {
        for (const std::string_view line : ini_detail::SplitLines(text)) {
            if (line.empty())
                continue;
            if (IsHeaderLine(line))
                headers_[line].at.push_back(lines_.size());
            lines_.push_back(line);
        }
        for (auto& [header, positions] : headers_)
            positions.tail = positions.at.size();
    } catch (const std::bad_alloc&) {
        lines_.clear();
        headers_.clear();
    }
}

bool TKsFastIniReader::OpenSection(std::string_view name, bool fromEnd)
{
    section_.clear();
    sectionHead_ = 0;

    const auto found = headers_.find(ini_detail::Header(name));
    if (found == headers_.end())
        return false;
    HeaderPositions& positions = found->second;
    if (positions.head == positions.tail)
        return false;
    const std::size_t header = fromEnd ? positions.at[--positions.tail] : positions.at[positions.head++];

    // Everything up to the next line that ends a section is this section's alone (any
    // header ends a section), so each line is moved at most once.
    for (std::size_t i = header + 1; i < lines_.size() && !ini_detail::EndsSection(lines_[i]); ++i)
        section_.push_back(lines_[i]);
    return true;
}

std::string TKsFastIniReader::ReadString(std::string_view key, std::string_view def)
{
    for (std::size_t i = sectionHead_; i < section_.size(); ++i) {
        const std::string_view line = section_[i];
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != '=')
            continue;
        section_[i] = std::string_view{};
        while (sectionHead_ < section_.size() && section_[sectionHead_].data() == nullptr)
            ++sectionHead_;
        return std::string(line.substr(key.size() + 1));
    }
    return std::string(def);
}

std::int64_t TKsFastIniReader::ReadInteger(std::string_view key, std::int64_t def)
{
    return ParseDecimal(ReadString(key, {})).value_or(def);
}

bool TKsFastIniReader::ReadBool(std::string_view key, bool def)
{
    const std::string value = ReadString(key, {});
    if (value == "False" || value == "0")
        return false;
    if (value == "True" || value == "1")
        return true;
    const std::string lower = LowerAscii(value);
    if (lower == "false")
        return false;
    if (lower == "true")
        return true;
    return def;
}

double TKsFastIniReader::ReadFloat(std::string_view key, double def)
{
    return ParseFloat(ReadString(key, {})).value_or(def);
}

int TKsFastIniReader::ReadCharset(std::string_view key, int def)
{
    const std::string value = ReadString(key, {});
    if (value.empty())
        return def;
    if (const auto number = CharsetNumber(value))
        return *number;
    const auto number = ParseDecimal(value);
    if (!number || *number < INT32_MIN || *number > INT32_MAX)
        return def;
    return static_cast<int>(*number);
}

std::int32_t TKsFastIniReader::ReadColor(std::string_view key, std::int32_t def)
{
    const std::string value = UpperAscii(TrimControl(ReadString(key, {})));
    if (value.empty())
        return def;
    if (value.size() == 7 && value[0] == '#') {
        const auto red = HexByte(std::string_view(value).substr(1, 2));
        const auto green = HexByte(std::string_view(value).substr(3, 2));
        const auto blue = HexByte(std::string_view(value).substr(5, 2));
        if (red && green && blue)
            return *red + 256 * *green + 65536 * *blue;
    }
    const auto number = ParseDecimal(value);
    if (!number || *number < INT32_MIN || *number > INT32_MAX)
        return def;
    return static_cast<std::int32_t>(*number);
}

}  // namespace vantrel
