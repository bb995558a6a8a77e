#include "support/KsFastIniReader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
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

} // namespace

TKsFastIniReader::TKsFastIniReader(const std::string& fileName) : fileName_(fileName)
{
    file_ = ini_detail::LoadFile(fileName);
    text_ = ini_detail::UpToNul(file_.View());
    Index();
}

TKsFastIniReader::TKsFastIniReader(Text text)
{
    copy_ = std::unique_ptr<char[]>(new (std::nothrow) char[text.bytes.size() + 1]);
    if (copy_) {
        std::copy(text.bytes.begin(), text.bytes.end(), copy_.get());
        text_ = ini_detail::UpToNul(std::string_view(copy_.get(), text.bytes.size()));
    }
    Index();
}

void TKsFastIniReader::Index()
{
    try {
        FindHeaders();
        LinkCopies();
    } catch (const std::bad_alloc&) {
        text_ = {};
        headers_.clear();
        table_.clear();
    }
}

void TKsFastIniReader::FindHeaders()
{
    // Only headers matter before a section is opened, and a header is a line that
    // begins with "[": jump from one "[" to the next instead of cutting every line.
    const std::hash<std::string_view> hash;
    const char* const data = text_.data();
    for (std::size_t at = 0; at < text_.size();) {
        const void* found = std::memchr(data + at, '[', text_.size() - at);
        if (!found)
            break;
        at = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        if (at > 0 && data[at - 1] != '\n' && data[at - 1] != '\r') {
            ++at; // inside a line
            continue;
        }
        const ini_detail::Line line = ini_detail::LineAt(text_, at);
        if (IsHeaderLine(line.text)) {
            const std::string_view name = line.text.substr(1, line.text.size() - 2);
            headers_.push_back(Header{hash(name), at + 1, name.size(), line.next});
        }
        at = line.next;
    }
    if (headers_.size() >= kNone / 2)
        throw std::bad_alloc(); // more headers than the links can count
}

void TKsFastIniReader::LinkCopies()
{
    std::size_t slots = 16;
    while (slots < headers_.size() * 2)
        slots *= 2;
    table_.assign(slots, kNone);
    const std::size_t mask = slots - 1;
    for (std::uint32_t i = 0; i < headers_.size(); ++i) {
        Header& header = headers_[i];
        for (std::size_t slot = header.hash & mask;; slot = (slot + 1) & mask) {
            if (table_[slot] == kNone) {
                table_[slot] = i;
                header.lastCopy = i;
                break;
            }
            Header& first = headers_[table_[slot]];
            if (first.hash == header.hash && NameOf(first) == NameOf(header)) {
                headers_[first.lastCopy].nextCopy = i;
                header.prevCopy = first.lastCopy;
                first.lastCopy = i;
                break;
            }
        }
    }
}

std::uint32_t TKsFastIniReader::FindFirstCopy(std::string_view name, std::size_t hash) const
{
    if (table_.empty())
        return kNone;
    const std::size_t mask = table_.size() - 1;
    for (std::size_t slot = hash & mask; table_[slot] != kNone; slot = (slot + 1) & mask) {
        const Header& first = headers_[table_[slot]];
        if (first.hash == hash && NameOf(first) == name)
            return table_[slot];
    }
    return kNone;
}

bool TKsFastIniReader::OpenSection(std::string_view name, bool fromEnd)
{
    section_.clear();
    sectionHead_ = 0;

    const std::uint32_t first = FindFirstCopy(name, std::hash<std::string_view>{}(name));
    if (first == kNone)
        return false;
    std::uint32_t copy = fromEnd ? headers_[first].lastCopy : first;
    while (copy != kNone && headers_[copy].opened)
        copy = fromEnd ? headers_[copy].prevCopy : headers_[copy].nextCopy;
    if (copy == kNone)
        return false;
    Header& header = headers_[copy];
    header.opened = true;

    for (std::size_t at = header.body; at < text_.size();) {
        const ini_detail::Line line = ini_detail::LineAt(text_, at);
        if (ini_detail::EndsSection(line.text))
            break;
        if (!line.text.empty())
            section_.push_back(line.text);
        at = line.next;
    }
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

} // namespace vantrel
