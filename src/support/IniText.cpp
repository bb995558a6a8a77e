#include "support/IniText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace vantrel::ini_detail {

std::string LoadFile(const std::string& fileName)
{
    std::string bytes;
    if (fileName.empty())
        return bytes;
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    try {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            bytes.reserve(static_cast<std::size_t>(st.st_size));
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                bytes.clear();  // unreadable: the file reads as empty
                break;
            }
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
    } catch (const std::bad_alloc&) {
        bytes.clear();
        bytes.shrink_to_fit();
    }
    ::close(fd);
    return bytes;
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string_view> lines;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        // The next LF, then any CR before it: a CR right before the LF is part of a
        // CR LF pair, any earlier CR ends a line on its own.
        auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = lf ? lf : end;
        auto* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(stop - p)));
        const char* lineEnd = cr ? cr : stop;
        lines.emplace_back(p, static_cast<std::size_t>(lineEnd - p));
        if (lineEnd == end)
            break;
        if (cr && cr + 1 == lf)
            p = lf + 1;
        else
            p = lineEnd + 1;
    }
    return lines;
}

std::string Header(std::string_view name)
{
    std::string header;
    header.reserve(name.size() + 2);
    header.push_back('[');
    header.append(name);
    header.push_back(']');
    return header;
}

bool EndsSection(std::string_view line)
{
    return !line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos;
}

}  // namespace vantrel::ini_detail
