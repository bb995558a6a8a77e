// Reads a settings file in one linear pass: the file is loaded once, opening a section
// moves its lines out of the file, and every value read is removed from the section,
// so each key reads once per opening and later searches see ever fewer lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel {

class TKsFastIniReader {
public:
    // Text given directly instead of a file (the bytes are copied).
    struct Text {
        std::string_view bytes;
    };

    // Loads the file if it exists; a missing or unreadable file reads as empty.
    explicit TKsFastIniReader(const std::string& fileName);
    explicit TKsFastIniReader(Text text);
    TKsFastIniReader(const TKsFastIniReader&) = delete;
    TKsFastIniReader& operator=(const TKsFastIniReader&) = delete;

    // Discards the open section, then finds "[name]" from the first line forwards (or
    // from the last backwards) and moves its lines out of the file. False when absent.
    bool OpenSection(std::string_view name, bool fromEnd = false);

    std::string ReadString(std::string_view key, std::string_view def);
    std::int64_t ReadInteger(std::string_view key, std::int64_t def);
    bool ReadBool(std::string_view key, bool def);
    double ReadFloat(std::string_view key, double def);
    int ReadCharset(std::string_view key, int def);
    std::int32_t ReadColor(std::string_view key, std::int32_t def);

    const std::string& FileName() const { return fileName_; }

private:
    // Where the copies of one header line stand in lines_, in file order; those
    // before head and from tail on have been opened.
    struct HeaderPositions {
        std::vector<std::size_t> at;
        std::size_t head = 0;
        std::size_t tail = 0;
    };

    void Index(std::string_view text);

    std::string fileName_;
    std::string bytes_;
    // The file's non-empty lines (an empty line can never be a header or a value, and
    // it stays behind when a section is moved out, so a reader has no use for it).
    std::vector<std::string_view> lines_;
    std::unordered_map<std::string_view, HeaderPositions> headers_;
    // The open section's lines; a read value leaves an empty view behind, and
    // sectionHead_ skips the read lines at the front.
    std::vector<std::string_view> section_;
    std::size_t sectionHead_ = 0;
};

}  // namespace vantrel
