#include "support/KsFastIniWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/TempDir.h"
#include "support/KsFastIniReader.h"

namespace vantrel {
namespace {

TEST(KsFastIniWriter, WritesTheDialectWithCrLf)
{
    testing::TempDir dir;
    TKsFastIniWriter writer(dir.File("out.ini"));
    writer.WriteSection("Form");
    writer.WriteInteger("Left", -12);
    writer.WriteString("Name", "  abc  ");
    writer.WriteString("Tabs", "\t\x01x y\x1f ");
    writer.WriteBool("On", true);
    writer.WriteBool("Off", false);
    writer.SetBoolStyle(2); // ignored
    writer.WriteBool("Still", true);
    writer.SetBoolStyle(1);
    writer.WriteBool("Styled", true);
    writer.WriteBool("StyledOff", false);
    writer.WriteSection("Font");
    writer.WriteCharset("Charset", 128);
    writer.WriteCharset("Odd", 42);
    writer.WriteColor("Color", 255 + 128 * 256);
    writer.WriteColor("Sys", static_cast<std::int32_t>(0x80000008u));
    writer.WriteInteger("Big", INT64_MIN);
    ASSERT_TRUE(writer.Save());

    EXPECT_EQ(testing::TempDir::Read(dir.File("out.ini")),
              "\r\n[Form]\r\nLeft=-12\r\nName=abc\r\nTabs=x y\r\nOn=1\r\nOff=0\r\nStill=1\r\n"
              "Styled=True\r\nStyledOff=False\r\n"
              "\r\n[Font]\r\nCharset=SHIFTJIS_CHARSET\r\nOdd=42\r\nColor=#FF8000\r\nSys=#080000\r\n"
              "Big=-9223372036854775808\r\n");
    ASSERT_EQ(writer.SectionCount(), 2u);
    EXPECT_EQ(writer.Sections()[0].name, "Form");
    EXPECT_EQ(writer.Sections()[0].headerLine, 1u);
    EXPECT_EQ(writer.Sections()[1].headerLine, 11u);
    EXPECT_EQ(writer.CurrentSection(), "Font");
}

TEST(KsFastIniWriter, WhatItWritesReadsBack)
{
    testing::TempDir dir;
    TKsFastIniWriter writer(dir.File("round.ini"));
    writer.SetBoolStyle(1);
    writer.WriteSection("S");
    writer.WriteInteger("i", INT64_MAX);
    writer.WriteBool("b", true);
    writer.WriteString("f", "0.125");
    writer.WriteCharset("c", 204);
    writer.WriteColor("col", 0x123456);
    writer.WriteString("s", "a=b; [c]");
    ASSERT_TRUE(writer.Save());

    TKsFastIniReader reader(dir.File("round.ini"));
    ASSERT_TRUE(reader.OpenSection("S"));
    EXPECT_EQ(reader.ReadInteger("i", 0), INT64_MAX);
    EXPECT_TRUE(reader.ReadBool("b", false));
    EXPECT_EQ(reader.ReadFloat("f", 0), 0.125);
    EXPECT_EQ(reader.ReadCharset("c", 0), 204);
    EXPECT_EQ(reader.ReadColor("col", 0), 0x123456);
    EXPECT_EQ(reader.ReadString("s", ""), "a=b; [c]");
}

TEST(KsFastIniWriter, SaveFailsWithoutAUsableName)
{
    testing::TempDir dir;
    TKsFastIniWriter unnamed("");
    unnamed.WriteSection("S");
    EXPECT_FALSE(unnamed.Save());
    TKsFastIniWriter nowhere(dir.File("missing/folder.ini"));
    nowhere.WriteSection("S");
    EXPECT_FALSE(nowhere.Save());
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST(KsFastIniWriter, SaveReplacesTheFileKeepingItsPermissions)
{
    testing::TempDir dir;
    const std::string file = dir.Write("keep.ini", "old contents that are longer than the new ones\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    TKsFastIniWriter writer(file);
    writer.WriteSection("N");
    ASSERT_TRUE(writer.Save());
    EXPECT_EQ(testing::TempDir::Read(file), "\r\n[N]\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary file left";
}

TEST(KsFastIniWriter, SaveThroughALinkReplacesItsTarget)
{
    testing::TempDir dir;
    const std::string target = dir.Write("real.ini", "old\r\n");
    const std::string link = dir.File("link.ini");
    std::filesystem::create_symlink(target, link);
    TKsFastIniWriter writer(link);
    writer.WriteSection("L");
    ASSERT_TRUE(writer.Save());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(testing::TempDir::Read(target), "\r\n[L]\r\n");
}

// A full disk during a save, simulated with a file-size limit: the write fails, the
// save says so, and the old file is whole.
TEST(KsFastIniWriter, FailedWriteLeavesTheOldFileWhole)
{
    testing::TempDir dir;
    const std::string old = "\r\n[Old]\r\nKeep=1\r\n";
    const std::string file = dir.Write("full.ini", old);
    TKsFastIniWriter writer(file);
    writer.WriteSection("New");
    writer.WriteString("Big", std::string(64 * 1024, 'x'));

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved_ok = writer.Save();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved_ok);
    EXPECT_EQ(testing::TempDir::Read(file), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1) << "no temporary file left";
}

} // namespace
} // namespace vantrel
