#include "support/TIniEditor.h"

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "support/KsFastIniReader.h"
#include "support/KsFastIniWriter.h"

namespace vantrel {
namespace {

using Lines = std::vector<std::string>;

TEST(TIniEditor, DeleteSectionTakesEverythingUpToTheNextHeader)
{
    struct Case {
        const char* text;
        const char* name;
        bool fromEnd;
        bool found;
        Lines left;
    };
    const Case cases[] = {
        {"[A]\na=1\n\n[B]\nb=1\n", "A", false, true, {"[B]", "b=1"}},
        {"[A]\na=1\n\n[B]\nb=1\n", "B", false, true, {"[A]", "a=1", ""}},
        {"[A]\n1\n[B]\n[A]\n2\n", "A", true, true, {"[A]", "1", "[B]"}},
        {"[A]\n1\n[B]\n[A]\n2\n", "A", false, true, {"[B]", "[A]", "2"}},
        {"[A]\nx\n[x]junk\ny\n", "A", false, true, {"[x]junk", "y"}},
        {"[A]\nx\n[no end\ny\n", "A", false, true, {}},
        {"[A]\nx\n", "B", false, false, {"[A]", "x"}},
        {" [A]\nx\n", "A", false, false, {" [A]", "x"}},
        {"", "A", false, false, {}},
    };
    for (const Case& c : cases) {
        TTIniEditor editor(TTIniEditor::Text{c.text});
        EXPECT_EQ(editor.DeleteSection(c.name, c.fromEnd), c.found) << c.text;
        EXPECT_EQ(editor.Lines, c.left) << c.text;
    }
}

TEST(TIniEditor, MissingFileHasNoLines)
{
    testing::TempDir dir;
    TTIniEditor editor(dir.File("none.ini"));
    EXPECT_TRUE(editor.Lines.empty());
    EXPECT_FALSE(editor.DeleteSection("A"));
}

// The drive settings are saved this way: sections of the drives present now are
// written fresh, those of absent drives survive from the old file.
TEST(TIniEditor, MergedSaveKeepsSectionsTheWriterDidNotProduce)
{
    testing::TempDir dir;
    const std::string file = dir.Write("Drive.ini", "\r\n[Drive0]\r\nSpeed=4\r\n"
                                                    "\r\n[Drive1]\r\nSpeed=8\r\nMode=3\r\n"
                                                    "\r\n[Drive2]\r\nSpeed=16\r\n");
    TKsFastIniWriter writer(file);
    for (const char* drive : {"Drive0", "Drive2"}) {
        writer.WriteSection(drive);
        writer.WriteInteger("Speed", 1);
    }
    TTIniEditor editor(file);
    for (const auto& section : writer.Sections())
        EXPECT_TRUE(editor.DeleteSection(section.name));
    writer.Lines().insert(writer.Lines().end(), editor.Lines.begin(), editor.Lines.end());
    ASSERT_TRUE(writer.Save());

    TKsFastIniReader reader(file);
    ASSERT_TRUE(reader.OpenSection("Drive1"));
    EXPECT_EQ(reader.ReadInteger("Speed", 0), 8);
    EXPECT_EQ(reader.ReadInteger("Mode", 0), 3);
    for (const char* drive : {"Drive0", "Drive2"}) {
        ASSERT_TRUE(reader.OpenSection(drive));
        EXPECT_EQ(reader.ReadInteger("Speed", 0), 1);
        EXPECT_FALSE(reader.OpenSection(drive)) << "written once, not kept twice";
    }
}

} // namespace
} // namespace vantrel
