// Builds a settings file from scratch, section after section, and saves it whole.
// It never reads the old file; a save goes to a temporary file beside it that then
// replaces it, so a failed or interrupted save leaves the old file as it was.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class TKsFastIniWriter {
public:
    struct TIniSection {
        std::string name;
        std::size_t headerLine = 0; // index of the header in Lines()
    };

    explicit TKsFastIniWriter(std::string fileName);

    // 0: booleans as "1"/"0"; 1: as "True"/"False". Other values are ignored.
    void SetBoolStyle(int style);

    // An empty line, then "[name]"; the section becomes current.
    bool WriteSection(std::string_view name);
    bool WriteInteger(std::string_view key, std::int64_t value);
    // The text without leading and trailing bytes of code 32 or less.
    bool WriteString(std::string_view key, std::string_view text);
    bool WriteBool(std::string_view key, bool value);
    // The character set's name, or its decimal number when it has none.
    bool WriteCharset(std::string_view key, int charset);
    // "#RRGGBB" from a colour of red + 256 green + 65536 blue.
    bool WriteColor(std::string_view key, std::int32_t colour);

    // Every line, each ended by CR LF, replacing the file. False when the file name is
    // empty or anything fails; the old file is then untouched.
    bool Save() const;

    // The output lines; lines kept from an old file may be appended here before saving.
    std::vector<std::string>& Lines() { return lines_; }
    const std::vector<std::string>& Lines() const { return lines_; }
    const std::vector<TIniSection>& Sections() const { return sections_; }
    std::size_t SectionCount() const { return sections_.size(); }
    const std::string& CurrentSection() const { return current_; }
    const std::string& FileName() const { return fileName_; }

private:
    bool Append(std::string_view key, std::string_view value);

    std::vector<std::string> lines_;
    std::string fileName_;
    std::vector<TIniSection> sections_;
    std::string current_;
    int boolStyle_ = 0;
};

// Writes bytes to path through a temporary file in the same folder, flushed to disk and
// renamed over path. A symbolic link is followed: its target is replaced. Keeps the old
// file's permissions. False on any failure, with the old file untouched.
bool ReplaceFileContents(const std::string& path, std::string_view bytes);

} // namespace vantrel
