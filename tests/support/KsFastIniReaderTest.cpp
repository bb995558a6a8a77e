#include "support/KsFastIniReader.h"

#include <gtest/gtest.h>

#include "common/TempDir.h"

namespace vantrel {
namespace {

using Reader = TKsFastIniReader;

std::string ReadOne(std::string_view text, std::string_view section, std::string_view key)
{
    Reader reader(Reader::Text{text});
    if (!reader.OpenSection(section))
        return "<no section>";
    return reader.ReadString(key, "<default>");
}

TEST(KsFastIniReader, MissingOrEmptyFileReadsAsEmpty)
{
    testing::TempDir dir;
    for (const std::string& file : {dir.File("missing.ini"), dir.Write("empty.ini", ""), std::string()}) {
        Reader reader(file);
        EXPECT_FALSE(reader.OpenSection("Form")) << file;
        EXPECT_EQ(reader.ReadString("Left", "d"), "d");
        EXPECT_EQ(reader.ReadInteger("Left", 7), 7);
    }
    // A folder in place of the file is as good as missing.
    Reader folder(dir.Path().string());
    EXPECT_FALSE(folder.OpenSection("Form"));
}

TEST(KsFastIniReader, ReadsFromAFile)
{
    testing::TempDir dir;
    Reader reader(dir.Write("a.ini", "\r\n[Form]\r\nLeft=10\r\nTop=-3\r\n"));
    EXPECT_EQ(reader.FileName(), dir.File("a.ini"));
    ASSERT_TRUE(reader.OpenSection("Form"));
    EXPECT_EQ(reader.ReadInteger("Top", 0), -3);
    EXPECT_EQ(reader.ReadInteger("Left", 0), 10);
}

TEST(KsFastIniReader, LargeFilesReadLikeSmallOnes)
{
    // Past a megabyte the file is mapped instead of copied; the result must not differ.
    testing::TempDir dir;
    std::string text;
    for (int i = 0; text.size() < (3u << 20); ++i)
        text += "\r\n[S" + std::to_string(i) + "]\r\nk=" + std::string(100, 'a' + i % 26) + "\r\n";
    text += "\r\n[Last]\r\nk=end";
    Reader reader(dir.Write("big.ini", text));
    ASSERT_TRUE(reader.OpenSection("Last"));
    EXPECT_EQ(reader.ReadString("k", ""), "end");
    ASSERT_TRUE(reader.OpenSection("S27"));
    EXPECT_EQ(reader.ReadString("k", ""), std::string(100, 'b'));

    Reader cut(dir.Write("nul.ini", text.substr(0, 2 << 20) + '\0' + text.substr(2 << 20)));
    EXPECT_FALSE(cut.OpenSection("Last"));
    EXPECT_TRUE(cut.OpenSection("S1"));
}

TEST(KsFastIniReader, LineEndsAndDamagedBytes)
{
    struct Case {
        std::string text;
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"[S]\r\nk=crlf\r\n", "S", "k", "crlf"},
        {"[S]\nk=lf\n", "S", "k", "lf"},
        {"[S]\rk=cr\r", "S", "k", "cr"},
        {"[S]\r\n\r\n\n\rk=blank lines between\r\n", "S", "k", "blank lines between"},
        {"[S]\nk=no final line end", "S", "k", "no final line end"},
        {"[S]\r\nk=v\r\r\n", "S", "k", "v"},
        {std::string("[S]\nk=cut\0here\n[T]\nj=1\n", 24), "S", "k", "cut"},
        {std::string("[S]\nk=1\n\0[T]\nj=1\n", 18), "T", "j", "<no section>"},
        {"\xff\xfe[S]\n[S]\n\x80k=\x81\n", "S", "k", "<default>"},
        {"\xff\xfe\n[S]\nk=\x81\xfe\n", "S", "k", "\x81\xfe"},
        {"[S]\nk=\x82\xa0\x82\xa2\n", "S", "k", "\x82\xa0\x82\xa2"}, // Shift_JIS bytes stay as they are
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadOne(c.text, c.section, c.key), c.expected) << ::testing::PrintToString(c.text);
}

TEST(KsFastIniReader, NamesMatchExactlyWithoutBlanks)
{
    struct Case {
        const char* text;
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"[Main]\nVolume = 5\n", "Main", "Volume", "<default>"},
        {"[Main]\nVolume=5\n", "Main", "Volume", "5"},
        {"[Main]\n Volume=5\n", "Main", "Volume", "<default>"},
        {"[Main]\nvolume=5\n", "Main", "Volume", "<default>"},
        {"[Main]\nVolumeX=5\n", "Main", "Volume", "<default>"},
        {"[Main]\nVolume=\n", "Main", "Volume", ""},
        {"[Main]\nVolume= 5 \n", "Main", "Volume", " 5 "},
        {"[Main]\nk=a=b=c\n", "Main", "k", "a=b=c"},
        {"[Main]\n=odd\n", "Main", "", "odd"},
        {" [Main]\nk=1\n", "Main", "k", "<no section>"},
        {"[Main] \nk=1\n", "Main", "k", "<no section>"},
        {"[ Main ]\nk=1\n", "Main", "k", "<no section>"},
        {"[main]\nk=1\n", "Main", "k", "<no section>"},
        {"[ Main ]\nk=1\n", " Main ", "k", "1"},
        {"[Main]\n;k=1\nk=2\n", "Main", "k", "2"}, // no comments, a ';' line just matches nothing
        {"[Main]\n;k=1\n", "Main", ";k", "1"},
        {"[Main]\n[Other]junk\nk=1\n", "Main", "k", "<default>"}, // "[" ... "]" ends a section
        {"[Main]\n[no bracket\nk=1\n", "Main", "k", "1"},         // without "]" it does not
        {"[Main]\nx]=1\nk=2\n", "Main", "k", "2"},
        {"k=1\n[Main]\n", "Main", "k", "<default>"}, // lines before the header are not the section's
        {"[Main]\nk=1\n[Next]\nk=2\n", "Next", "k", "2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadOne(c.text, c.section, c.key), c.expected) << c.text;
}

TEST(KsFastIniReader, VeryLongLinesAreReadWhole)
{
    const std::string value(1 << 20, 'v');
    const std::string longName(70000, 'n');
    const std::string text = "[S]\nk=" + value + "\n[" + longName + "]\n" + longName + "=x\n";
    Reader reader(Reader::Text{text});
    ASSERT_TRUE(reader.OpenSection("S"));
    EXPECT_EQ(reader.ReadString("k", ""), value);
    ASSERT_TRUE(reader.OpenSection(longName));
    EXPECT_EQ(reader.ReadString(longName, ""), "x");
}

TEST(KsFastIniReader, DuplicateSectionsByDirectionAndOpeningTwice)
{
    const std::string text = "[A]\nk=first\n\n[B]\nk=b\n[A]\nk=second\n[A]\nk=third\n";
    {
        Reader reader(Reader::Text{text});
        ASSERT_TRUE(reader.OpenSection("A"));
        EXPECT_EQ(reader.ReadString("k", ""), "first");
        ASSERT_TRUE(reader.OpenSection("A", true));
        EXPECT_EQ(reader.ReadString("k", ""), "third");
        ASSERT_TRUE(reader.OpenSection("A"));
        EXPECT_EQ(reader.ReadString("k", ""), "second");
        EXPECT_FALSE(reader.OpenSection("A"));
        EXPECT_EQ(reader.ReadString("k", "gone"), "gone") << "a failed open leaves no section open";
        ASSERT_TRUE(reader.OpenSection("B"));
        EXPECT_FALSE(reader.OpenSection("B"));
    }
}

TEST(KsFastIniReader, EachValueReadsOncePerOpeningInFileOrder)
{
    Reader reader(Reader::Text{"[S]\nk=1\nj=2\nk=3\n\nk=4\n"});
    ASSERT_TRUE(reader.OpenSection("S"));
    EXPECT_EQ(reader.ReadString("j", ""), "2");
    EXPECT_EQ(reader.ReadString("j", "again"), "again");
    EXPECT_EQ(reader.ReadString("k", ""), "1");
    EXPECT_EQ(reader.ReadString("k", ""), "3");
    EXPECT_EQ(reader.ReadString("k", ""), "4");
    EXPECT_EQ(reader.ReadString("k", "none"), "none");
}

TEST(KsFastIniReader, OpeningASectionDiscardsThePreviousOne)
{
    Reader reader(Reader::Text{"[A]\na=1\n[B]\nb=2\n"});
    ASSERT_TRUE(reader.OpenSection("A"));
    ASSERT_TRUE(reader.OpenSection("B"));
    EXPECT_EQ(reader.ReadString("a", "d"), "d");
    EXPECT_EQ(reader.ReadString("b", "d"), "2");
}

TEST(KsFastIniReader, TypedReads)
{
    enum Kind { Bool, Integer, Float, Charset, Colour };
    struct Case {
        Kind kind;
        const char* value;
        double expected; // every expected value here is exact as a double
    };
    const Case cases[] = {
        {Bool, "True", 1},
        {Bool, "False", 0},
        {Bool, "1", 1},
        {Bool, "0", 0},
        {Bool, "TRUE", 1},
        {Bool, "fAlSe", 0},
        {Bool, "yes", -1},
        {Bool, " 1", -1},
        {Bool, "2", -1},
        {Bool, "", -1},
        {Integer, "42", 42},
        {Integer, "-7", -7},
        {Integer, "+3", 3},
        {Integer, "1.5", -1},
        {Integer, " 4", -1},
        {Integer, "", -1},
        {Integer, "99999999999999999999", -1},
        {Integer, "9007199254740992", 9007199254740992.0},
        {Float, "1.5", 1.5},
        {Float, "-0.25", -0.25},
        {Float, "3", 3},
        {Float, "1,5", -1},
        {Float, "abc", -1},
        {Float, "", -1},
        {Float, "nan", -1},
        {Charset, "SHIFTJIS_CHARSET", 128},
        {Charset, "ANSI_CHARSET", 0},
        {Charset, "shiftjis_charset", -1},
        {Charset, "77", 77},
        {Charset, "300", 300},
        {Charset, "x", -1},
        {Charset, "", -1},
        {Colour, "#ff8000", 255 + 128 * 256},
        {Colour, "#0000FF", 255 * 65536},
        {Colour, "#FF80", -1},
        {Colour, "255", 255},
        {Colour, " #00ff00 ", 65280},
        {Colour, "#GG0000", -1},
        {Colour, "#-10000", -1},
        {Colour, "", -1},
        {Colour, "red", -1},
    };
    for (const Case& c : cases) {
        const std::string text = std::string("[S]\nv=") + c.value + "\n";
        Reader reader(Reader::Text{text});
        ASSERT_TRUE(reader.OpenSection("S"));
        double got = 0;
        switch (c.kind) {
        case Bool: {
            // Read with both defaults: a value that gives the default (-1) follows it.
            auto read = [&](bool def) {
                Reader fresh(Reader::Text{text});
                fresh.OpenSection("S");
                return fresh.ReadBool("v", def);
            };
            const bool withFalse = read(false);
            const bool withTrue = read(true);
            got = withFalse == withTrue ? (withTrue ? 1 : 0) : -1;
            break;
        }
        case Integer:
            got = static_cast<double>(reader.ReadInteger("v", -1));
            break;
        case Float:
            got = reader.ReadFloat("v", -1);
            break;
        case Charset:
            got = reader.ReadCharset("v", -1);
            break;
        case Colour:
            got = reader.ReadColor("v", -1);
            break;
        }
        EXPECT_EQ(got, c.expected) << "kind " << c.kind << " value '" << c.value << "'";
    }
}

TEST(KsFastIniReader, EmptyValueIsAbsentForTypedReadsOnly)
{
    Reader reader(Reader::Text{"[S]\ns=\nb=\ni=\n"});
    ASSERT_TRUE(reader.OpenSection("S"));
    EXPECT_EQ(reader.ReadString("s", "x"), "");
    EXPECT_TRUE(reader.ReadBool("b", true));
    EXPECT_EQ(reader.ReadInteger("i", 9), 9);
}

} // namespace
} // namespace vantrel
