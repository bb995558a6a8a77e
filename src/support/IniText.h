// What the three INI classes share: loading a file's bytes and cutting them into
// lines. Not part of the library's public interface.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::ini_detail {

// The bytes of a file, read into memory, or for a large file mapped read-only: copying
// tens of megabytes costs far more than the whole parse.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(FileBytes&& other) noexcept { *this = std::move(other); }
    FileBytes& operator=(FileBytes&& other) noexcept;
    ~FileBytes();

    std::string_view View() const { return {data_, size_}; }

private:
    friend FileBytes LoadFile(const std::string& fileName);
    void Release();

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0; // length of the mapping; 0 when data_ is from new[]
};

// The file's bytes; none when it is missing or unreadable. Never throws.
FileBytes LoadFile(const std::string& fileName);
// The text up to its first NUL: a NUL byte ends the text.
std::string_view UpToNul(std::string_view text);

// One line of a text: its bytes and the offset where the next line starts.
struct Line {
    std::string_view text;
    std::size_t next;
};
// The line that starts at offset at (< text.size()). Lines end at CR LF, a lone LF or
// a lone CR; where the last line has no line end, next is text.size().
Line LineAt(std::string_view text, std::size_t at);
// Every line of the text up to its first NUL. A final line end starts no further line.
std::vector<std::string_view> SplitLines(std::string_view text);
// "[" + name + "]"
std::string Header(std::string_view name);
// A line that ends a section when reading: begins with "[" and contains "]".
bool EndsSection(std::string_view line);

} // namespace vantrel::ini_detail
