// What the three INI classes share: loading a file's bytes and cutting them into
// lines. Not part of the library's public interface.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel::ini_detail {

// The file's bytes; empty when it is missing or unreadable. Never throws.
std::string LoadFile(const std::string& fileName);
// The text up to its first NUL, cut at CR LF, lone LF and lone CR. A final line end
// does not start another line.
std::vector<std::string_view> SplitLines(std::string_view text);
// "[" + name + "]"
std::string Header(std::string_view name);
// A line that ends a section when reading: begins with "[" and contains "]".
bool EndsSection(std::string_view line);

}  // namespace vantrel::ini_detail
