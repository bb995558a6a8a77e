// The Windows font character-set numbers and their names, as settings files and the
// lyrics "@charset=" tag spell them.
#pragma once

#include <optional>
#include <string_view>

namespace vantrel {

inline constexpr int DEFAULT_CHARSET = 1;

// The number of an exactly spelled name ("SHIFTJIS_CHARSET" → 128).
std::optional<int> CharsetNumber(std::string_view name);
// The name of a number, or nothing for a number without one.
std::optional<std::string_view> CharsetName(int number);

} // namespace vantrel
