// Small text helpers shared by the windows and the settings code. Texts are bytes in
// the system's code page and are never converted; only ASCII letters change case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// The text with each of : ; * ? " < > | replaced by replacement. Slashes stay.
std::string SafeFileName(std::string_view text, std::string_view replacement);
// Every single "&" doubled so a menu shows it literally; an existing "&&" stays.
std::string EscapeAmpersands(std::string_view text);
// The trimmed text as an unsigned hexadecimal number, else def.
std::int64_t HexToIntDef(std::string_view text, std::int64_t def);
// The character-set number of a name, ignoring case and surrounding blanks; else 1.
int CharsetFromName(std::string_view text);

// Without leading and trailing bytes of code 32 or less.
std::string_view TrimControl(std::string_view text);
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
// An optional sign and decimal digits, all of text, within 64 bits.
std::optional<std::int64_t> ParseDecimal(std::string_view text);
// A finite decimal floating-point number with "." as separator, all of text.
std::optional<double> ParseFloat(std::string_view text);

} // namespace vantrel
