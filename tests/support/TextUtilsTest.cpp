#include "support/TextUtils.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(SafeFileName, ReplacesTheReservedCharactersButNotSlashes)
{
    struct Case {
        const char* text;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"a:b|c?", "-", "a-b-c-"},
        {"x/y", "-", "x/y"},
        {"a\\b", "-", "a\\b"},
        {":;*?\"<>|", "_", "________"},
        {"no change", "-", "no change"},
        {"a::b", "", "ab"},
        {"a*b", "<>", "a<<><>b"}, // a replacement holding later characters is replaced again
        {"a:b", ":", "a:b"},      // one holding the same character ends at once
        {"", "-", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName(c.text, c.replacement), c.expected) << c.text << " / " << c.replacement;
}

TEST(EscapeAmpersands, DoublesSingleAmpersandsOnly)
{
    const std::pair<const char*, const char*> cases[] = {
        {"R&B", "R&&B"}, {"R&&B", "R&&B"},     {"end&", "end&&"}, {"&", "&&"},
        {"&&&", "&&&&"}, {"a&b&c", "a&&b&&c"}, {"", ""},          {"none", "none"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(EscapeAmpersands(text), expected) << text;
}

TEST(HexToIntDef, ReadsTrimmedHexOrGivesTheDefault)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        {" 1F ", 31},
        {"1G", 5},
        {"", 5},
        {"   ", 5},
        {"ff", 255},
        {"FF", 255},
        {"00", 0},
        {"\t0A\r", 10},
        {"-1", 5},
        {"0x10", 5},
        {"1 2", 5},
        {"7FFFFFFFFFFFFFFF", INT64_MAX},
        {"10000000000000000", 5},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(HexToIntDef(text, 5), expected) << '"' << text << '"';
}

TEST(CharsetFromName, IgnoresCaseAndBlanksAndNeverTakesNumbers)
{
    const std::pair<const char*, int> cases[] = {
        {" shiftjis_charset ", 128}, {"EUC", 1}, {"ANSI_CHARSET", 0}, {"oem_charset", 255}, {"128", 1}, {"", 1},
        {"Russian_Charset", 204},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(CharsetFromName(text), expected) << text;
}

TEST(ParseNumbers, DecimalAndFloatNeedTheWholeText)
{
    EXPECT_EQ(ParseDecimal("42"), 42);
    EXPECT_EQ(ParseDecimal("+3"), 3);
    EXPECT_EQ(ParseDecimal("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "-", "+-1", "1.5", " 1", "1 ", "99999999999999999999", "0x1"})
        EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
    EXPECT_EQ(ParseFloat("1.5"), 1.5);
    EXPECT_EQ(ParseFloat("-0.25"), -0.25);
    EXPECT_EQ(ParseFloat("1e3"), 1000.0);
    for (const char* bad : {"", "1,5", "abc", "nan", "inf", "1.5x", "+-1"})
        EXPECT_FALSE(ParseFloat(bad).has_value()) << bad;
}

} // namespace
} // namespace vantrel
