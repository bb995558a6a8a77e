#include "support/KsDirectoryDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "common/TempDir.h"

namespace vantrel {
namespace {

// Acts on the folder browser once it is shown, as the user would.
void WhenShown(std::function<void(QFileDialog&)> act)
{
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            WhenShown(act); // not up yet
            return;
        }
        act(*dialog);
    });
}

class KsDirectoryDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "support_ui_tests";
        static char* argv[] = {name, nullptr};
        static QApplication app(argc, argv);
    }
};

TEST_F(KsDirectoryDialogTest, ConfirmedFolderIsChosenAndOpensOnTheInitialFolder)
{
    testing::TempDir dir;
    std::filesystem::create_directory(dir.Path() / "Music");
    TKsDirectoryDialog chooser;
    chooser.InitialDir = dir.Path().string();
    chooser.Title = "Select a folder for output.wav files";
    QString shownIn;
    QString shownTitle;
    WhenShown([&](QFileDialog& dialog) {
        shownIn = dialog.directory().absolutePath();
        shownTitle = dialog.windowTitle();
        dialog.selectFile(QString::fromStdString((dir.Path() / "Music").string()));
        static_cast<QDialog&>(dialog).accept(); // what the Choose button does
    });
    ASSERT_TRUE(chooser.Execute());
    EXPECT_EQ(chooser.Directory, (dir.Path() / "Music").string());
    EXPECT_EQ(shownIn.toStdString(), dir.Path().string());
    EXPECT_EQ(shownTitle.toStdString(), chooser.Title);
}

TEST_F(KsDirectoryDialogTest, CancelLeavesTheChosenFolderAlone)
{
    testing::TempDir dir;
    TKsDirectoryDialog chooser;
    chooser.InitialDir = dir.Path().string();
    chooser.Directory = "/previous";
    WhenShown([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(chooser.Execute());
    EXPECT_EQ(chooser.Directory, "/previous");
}

} // namespace
} // namespace vantrel
