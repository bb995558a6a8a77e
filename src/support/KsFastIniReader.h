// Reads a settings file in one linear pass: the file is loaded once, opening a section
// moves its lines out of the file, and every value read is removed from the section,
// so each key reads once per opening and later searches see ever fewer lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/IniText.h"

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
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // One header line of the file, found when loading. The copies of one header are
    // linked in file order; the first copy also knows the last.
    struct Header {
        std::size_t hash;   // of the name between the brackets
        std::size_t start;  // offset of the name in text_
        std::size_t length; // of the name
        std::size_t body;   // offset of the line after the header
        std::uint32_t nextCopy = kNone;
        std::uint32_t prevCopy = kNone;
        std::uint32_t lastCopy = kNone;
        bool opened = false; // moved out of the file by OpenSection
    };

    void Index();
    void FindHeaders();
    void LinkCopies();
    std::string_view NameOf(const Header& header) const { return text_.substr(header.start, header.length); }
    // The first copy of the header with this name, or kNone.
    std::uint32_t FindFirstCopy(std::string_view name, std::size_t hash) const;

    std::string fileName_;
    ini_detail::FileBytes file_;
    std::unique_ptr<char[]> copy_; // the bytes of a Text
    std::string_view text_;        // the loaded bytes up to the first NUL
    // Headers in file order and an open-addressing table of the first copies. A
    // section's lines are only cut from the text when it is opened: a section runs up
    // to the next line that ends one, and every header ends one, so no two sections
    // share a line and each line is moved out at most once.
    std::vector<Header> headers_;
    std::vector<std::uint32_t> table_;
    // The open section's non-empty lines; a read value leaves an empty view behind, and
    // sectionHead_ skips the read lines at the front.
    std::vector<std::string_view> section_;
    std::size_t sectionHead_ = 0;
};

} // namespace vantrel
