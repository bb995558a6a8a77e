#include "support/IniText.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace vantrel::ini_detail {

namespace {
constexpr std::size_t kMapFrom = 1 << 20;

// Reads what fd holds into a buffer from new[], growing it if the file grows.
bool ReadAll(int fd, std::size_t expected, std::unique_ptr<char[]>& data, std::size_t& size)
{
    std::size_t capacity = expected + 1; // one byte more tells the end from a grown file
    size = 0;
    for (;;) {
        if (!data || size == capacity) {
            if (data)
                capacity *= 2;
            std::unique_ptr<char[]> larger(new (std::nothrow) char[capacity]);
            if (!larger)
                return false;
            std::copy_n(data.get(), size, larger.get());
            data = std::move(larger);
        }
        const ssize_t n = ::read(fd, data.get() + size, capacity - size);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        size += static_cast<std::size_t>(n);
    }
}
} // namespace

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept
{
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

FileBytes::~FileBytes()
{
    Release();
}

void FileBytes::Release()
{
    if (mapped_)
        ::munmap(data_, mapped_);
    else
        delete[] data_;
    data_ = nullptr;
    size_ = mapped_ = 0;
}

FileBytes LoadFile(const std::string& fileName)
{
    FileBytes bytes;
    if (fileName.empty())
        return bytes;
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const std::size_t expected = regular && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    if (expected >= kMapFrom) {
        void* map = ::mmap(nullptr, expected, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (map != MAP_FAILED) {
            bytes.data_ = static_cast<char*>(map);
            bytes.size_ = bytes.mapped_ = expected;
            ::close(fd);
            return bytes;
        }
    }
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    if (ReadAll(fd, expected, data, size)) {
        bytes.data_ = data.release();
        bytes.size_ = size;
    }
    ::close(fd);
    return bytes;
}

std::string_view UpToNul(std::string_view text)
{
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

Line LineAt(std::string_view text, std::size_t at)
{
    // Settings lines are short: a plain scan beats searching twice with memchr.
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t end = at;
    while (end < size && data[end] != '\n' && data[end] != '\r')
        ++end;
    std::size_t next = end;
    if (end < size)
        next += (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? 2 : 1;
    return {text.substr(at, end - at), next};
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    text = UpToNul(text);
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        const Line line = LineAt(text, at);
        lines.push_back(line.text);
        at = line.next;
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

} // namespace vantrel::ini_detail
