// Reading back what the WAV output wrote: little-endian fields, hex-written expected bytes,
// soxi's view of a file, and a file-size limit that stands in for a full disk.
#pragma once

#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::testing {

inline std::uint32_t Le32(const std::string& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + static_cast<std::size_t>(i)));
    return value;
}

// "52 49 46 46 ..." to bytes; spaces are ignored.
inline std::string Hex(std::string_view text)
{
    std::string bytes;
    std::string digits;
    for (char c : text) {
        if (c == ' ')
            continue;
        digits += c;
        if (digits.size() == 2) {
            bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
            digits.clear();
        }
    }
    return bytes;
}

inline bool HaveSoxi()
{
    return ::system("command -v soxi >/dev/null 2>&1") == 0;
}

// What `soxi -<option> file` prints, without the line end; empty when soxi fails.
inline std::string Soxi(char option, const std::string& file)
{
    const std::string command = std::string("soxi -") + option + " '" + file + "' 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[256];
    while (::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    if (::pclose(pipe) != 0)
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// Files of this process cannot grow beyond bytes while it lives: writes past the limit fail
// with EFBIG, as on a full disk (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Ok() const { return ok_; }

private:
    struct rlimit saved_ {};
    sighandler_t previous_ = SIG_DFL;
    bool ok_ = false;
};

} // namespace vantrel::testing
