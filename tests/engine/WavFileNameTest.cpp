#include "engine/WavFileName.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "common/TempDir.h"

namespace vantrel {
namespace {

TEST(SafeRelativePath, NeverLeavesTheFolder)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Title", "Title"},
        {"a:b|c?", "a-b-c-"},
        {"../../x", "x"},
        {"/etc/passwd", "etc/passwd"},
        {"a//b/./c/..", "a/b/c"},
        {"..", ""},
        {".", ""},
        {"", ""},
        {"a\\b", "a-b"},
        {"..\\..\\x", "..-..-x"},
        {"...", "..."},
        {"Live/Disc 1", "Live/Disc 1"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(SafeRelativePath(text), expected) << text;
}

TEST(MakeWavFileName, NumbersTakenNamesUpToNinetyNine)
{
    testing::TempDir dir;
    const std::string root = dir.Path().string();
    const std::string first = MakeWavFileName(root, "Album", "Title");
    EXPECT_EQ(first, root + "/Album/Title.wav");
    EXPECT_TRUE(std::filesystem::is_directory(root + "/Album")) << "the folder is made";

    dir.Write("Album/Title.wav", "");
    dir.Write("Album/Title-01.wav", "");
    EXPECT_EQ(MakeWavFileName(root, "Album", "Title"), root + "/Album/Title-02.wav");

    for (int i = 2; i <= 99; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Album/Title-%.2d.wav", i);
        dir.Write(name, "");
    }
    EXPECT_EQ(MakeWavFileName(root, "Album", "Title"), root + "/Album/Title-99.wav")
        << "after 99 numbered names the last one is used";
}

TEST(MakeWavFileName, TitlesWithSlashesMakeSubFoldersInsideTheRoot)
{
    testing::TempDir dir;
    const std::string root = dir.Path().string();
    EXPECT_EQ(MakeWavFileName(root, "../../..", "/etc/x"), root + "/etc/x.wav");
    EXPECT_TRUE(std::filesystem::is_directory(root + "/etc"));
    EXPECT_EQ(MakeWavFileName(root, "", "t"), root + "/t.wav");
    EXPECT_EQ(MakeWavFileName("", "A", "t"), "./A/t.wav");
    std::filesystem::remove_all("./A");
}

} // namespace
} // namespace vantrel
