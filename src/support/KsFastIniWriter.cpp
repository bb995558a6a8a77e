#include "support/KsFastIniWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "support/Charsets.h"
#include "support/TextUtils.h"

namespace vantrel {

TKsFastIniWriter::TKsFastIniWriter(std::string fileName) : fileName_(std::move(fileName)) {}

void TKsFastIniWriter::SetBoolStyle(int style)
{
    if (style == 0 || style == 1)
        boolStyle_ = style;
}

bool TKsFastIniWriter::WriteSection(std::string_view name)
{
    lines_.emplace_back();
    std::string header = "[";
    header.append(name);
    header.push_back(']');
    sections_.push_back(TIniSection{std::string(name), lines_.size()});
    lines_.push_back(std::move(header));
    current_ = name;
    return true;
}

bool TKsFastIniWriter::Append(std::string_view key, std::string_view value)
{
    std::string line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key);
    line.push_back('=');
    line.append(value);
    lines_.push_back(std::move(line));
    return true;
}

bool TKsFastIniWriter::WriteInteger(std::string_view key, std::int64_t value)
{
    return Append(key, std::to_string(value));
}

bool TKsFastIniWriter::WriteString(std::string_view key, std::string_view text)
{
    return Append(key, TrimControl(text));
}

bool TKsFastIniWriter::WriteBool(std::string_view key, bool value)
{
    if (boolStyle_ == 1)
        return Append(key, value ? "True" : "False");
    return Append(key, value ? "1" : "0");
}

bool TKsFastIniWriter::WriteCharset(std::string_view key, int charset)
{
    if (const auto name = CharsetName(charset))
        return Append(key, *name);
    return Append(key, std::to_string(charset));
}

bool TKsFastIniWriter::WriteColor(std::string_view key, std::int32_t colour)
{
    const auto c = static_cast<std::uint32_t>(colour);
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", c & 0xFFu, (c >> 8) & 0xFFu, (c >> 16) & 0xFFu);
    return Append(key, text);
}

bool TKsFastIniWriter::Save() const
{
    if (fileName_.empty())
        return false;
    std::string bytes;
    try {
        std::size_t size = 0;
        for (const std::string& line : lines_)
            size += line.size() + 2;
        bytes.reserve(size);
        for (const std::string& line : lines_) {
            bytes.append(line);
            bytes.append("\r\n");
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return ReplaceFileContents(fileName_, bytes);
}

namespace {

// The file a path finally names: a link's target, else the path itself.
std::string ResolvedTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    return path; // a dangling link: replaced by the new file
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

bool ReplaceFileContents(const std::string& path, std::string_view bytes)
{
    if (path.empty())
        return false;
    const std::string target = ResolvedTarget(path);
    std::string temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;

    struct stat old {};
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewFileMode();
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace vantrel
