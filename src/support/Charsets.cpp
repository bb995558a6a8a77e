#include "support/Charsets.h"

#include <array>
#include <utility>

namespace vantrel {

namespace {
constexpr std::array<std::pair<int, std::string_view>, 19> kCharsets{{
    {0, "ANSI_CHARSET"},          {1, "DEFAULT_CHARSET"},      {2, "SYMBOL_CHARSET"},    {77, "MAC_CHARSET"},
    {128, "SHIFTJIS_CHARSET"},    {129, "HANGEUL_CHARSET"},    {130, "JOHAB_CHARSET"},   {134, "GB2312_CHARSET"},
    {136, "CHINESEBIG5_CHARSET"}, {161, "GREEK_CHARSET"},      {162, "TURKISH_CHARSET"}, {163, "VIETNAMESE_CHARSET"},
    {177, "HEBREW_CHARSET"},      {178, "ARABIC_CHARSET"},     {186, "BALTIC_CHARSET"},  {204, "RUSSIAN_CHARSET"},
    {222, "THAI_CHARSET"},        {238, "EASTEUROPE_CHARSET"}, {255, "OEM_CHARSET"},
}};
} // namespace

std::optional<int> CharsetNumber(std::string_view name)
{
    for (const auto& [number, text] : kCharsets)
        if (text == name)
            return number;
    return std::nullopt;
}

std::optional<std::string_view> CharsetName(int number)
{
    for (const auto& [n, text] : kCharsets)
        if (n == number)
            return text;
    return std::nullopt;
}

} // namespace vantrel
