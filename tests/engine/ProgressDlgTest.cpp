// The progress dialog of the table-of-contents analyses, on the offscreen platform: it
// shows while an analysis of an emulated drive runs, counts its steps and time, and
// closes when the analysis ends, fails or is cancelled from the dialog.
#include "engine/CdpProgressDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "common/TempDir.h"
#include "common/TestDisc.h"
#include "drive/DriveSystem.h"
#include "engine/KsCdPlayer.h"
#include "engine/ScsiDriveServices.h"
#include "vdrive/DiscMaker.h"
#include "vdrive/drive/EmulatedScsiDevice.h"

// Qt is not built for the thread sanitizer, which would take the synchronisation inside
// its libraries for races: what happens there is left out. Read only by that sanitizer.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// Five tracks with pre-gaps of 2, 70 and 3 s; the last is a data track. Absolute frames:
// track 2 at 1875, track 3 at 2775.
const char* const kDisc = "disc hidden=00:03:00\n"
                          "track length=00:20:00\n"
                          "track length=00:10:00\n"
                          "track length=00:12:00 pregap=00:02:00\n"
                          "track length=00:08:00 pregap=01:10:00\n"
                          "track length=00:10:00 pregap=00:03:00 data=1\n";

// The disc in an emulated drive "V:" with the given options, and a player component over
// it whose analyses show the dialog.
struct EmulatedDrive {
    explicit EmulatedDrive(const std::string& options)
    {
        const auto disc = testing::MakeTestDisc(dir, kDisc);
        vdrive::DriveOptions driveOptions;
        std::string error;
        EXPECT_TRUE(vdrive::ParseDriveOptions(options, driveOptions, error)) << error;
        drive = std::make_unique<vdrive::VirtualDrive>(driveOptions);
        drive->Insert(disc);
        device = std::make_unique<vdrive::EmulatedScsiDevice>(*drive);
        system = std::make_unique<TDriveSystem>(std::vector<TDriveSystem::Emulated>{{device.get(), "V:"}},
                                                dir.Path().string());
        TKsCdPlayer::Engines engines;
        engines.drives = std::make_unique<TScsiDriveList>(*system);
        engines.commands = std::make_unique<TScsiDriveCommands>(*system);
        player = std::make_unique<TKsCdPlayer>(std::move(engines));
        player->NoMci = true;
        EXPECT_EQ(player->GetCdDrives(), 1);
        player->SetPreGapMode(0, 1);
        player->SetPreGapMethod(0, 1);
        player->SetProgressFactory(TCdpProgressDlg::Factory());
    }

    testing::TempDir dir;
    std::unique_ptr<vdrive::VirtualDrive> drive;
    std::unique_ptr<vdrive::EmulatedScsiDevice> device;
    std::unique_ptr<TDriveSystem> system;
    std::unique_ptr<TKsCdPlayer> player;
};

int OpenDialogs()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<TCdpProgressDlg*>(widget) != nullptr;
    return count;
}

class ProgressDlgTest : public ::testing::Test {
protected:
    // The application goes before the program's exit handlers run: Qt's input devices,
    // made by the key event below, cannot be destroyed that late.
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "engine_ui_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite() { app.reset(); }
    static inline std::unique_ptr<QApplication> app;

    // Runs GetDiscInfo on V: while looking at the dialog every 20 ms; a dialog still up
    // after 20 s is a failure, and the analysis is cancelled so the test can end.
    bool DiscInfoWatched(TKsCdPlayer& player, const std::function<void(TCdpProgressDlg&)>& look)
    {
        QTimer watch;
        const auto started = std::chrono::steady_clock::now();
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<TCdpProgressDlg*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            look(*dialog);
            if (std::chrono::steady_clock::now() - started > 20s) {
                ADD_FAILURE() << "the dialog stays open";
                player.CancelDlgOpeartion();
            }
        });
        watch.start(20);
        TCdToc toc;
        TCddbParams params;
        const bool result = player.GetDiscInfo("V:", toc, params);
        watch.stop();
        return result;
    }
};

TEST_F(ProgressDlgTest, ShowsCountsAndClosesWhenTheAnalysisEnds)
{
    EmulatedDrive e("delay=50"); // every Q read takes 50 ms: the analysis lasts seconds
    e.player->PreGapCaption = "Scanning gaps";
    e.player->ElapsedLabel = "Elapsed";
    TDlgFont font;
    font.Size = 14;
    font.Bold = true;
    e.player->SetDlgFont(font);

    std::set<std::string> titles, elapsed;
    int barMax = 0, lastBar = 0, looks = 0;
    bool visible = true, barWentBack = false;
    std::string label;
    QFont shownFont;
    ASSERT_TRUE(DiscInfoWatched(*e.player, [&](TCdpProgressDlg& dialog) {
        ++looks;
        visible = visible && dialog.isVisible() && dialog.isModal();
        titles.insert(dialog.windowTitle().toStdString());
        label = dialog.findChild<QLabel*>("TimeLbl1")->text().toStdString();
        elapsed.insert(dialog.findChild<QLabel*>("TimeLbl")->text().toStdString());
        const auto* bar = dialog.findChild<QProgressBar*>("ProgressBar");
        barMax = std::max(barMax, bar->maximum());
        barWentBack = barWentBack || bar->value() < lastBar;
        lastBar = bar->value();
        shownFont = dialog.font();
    }));
    EXPECT_EQ(e.player->GetLastAnalysisStatus(), asFinished);
    ASSERT_GT(looks, 10);
    EXPECT_TRUE(visible);
    EXPECT_EQ(label, "Elapsed");
    EXPECT_EQ(shownFont.pointSize(), 14);
    EXPECT_TRUE(shownFont.bold());
    EXPECT_EQ(barMax, 6) << "five tracks and the final fill";
    EXPECT_FALSE(barWentBack);
    EXPECT_TRUE(titles.count("Scanning gaps")) << "the base caption first";
    int counted = 0;
    for (const std::string& title : titles) {
        if (title == "Scanning gaps")
            continue;
        ++counted;
        int step = 0, total = 0;
        EXPECT_EQ(std::sscanf(title.c_str(), "Scanning gaps... (%d/%d)", &step, &total), 2) << title;
        EXPECT_EQ(total, 5) << title;
        EXPECT_TRUE(step >= 1 && step <= 5) << title;
    }
    EXPECT_GT(counted, 0) << "the steps show in the caption";
    EXPECT_TRUE(elapsed.count("00:00"));
    EXPECT_TRUE(elapsed.count("00:01")) << "a second went by";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(OpenDialogs(), 0) << "closed and freed";
}

TEST_F(ProgressDlgTest, ClosesWhenCancelledOrWhenTheDriveFails)
{
    struct Case {
        const char* name;
        const char* options;
        std::function<void(TCdpProgressDlg&)> act; // once, when the dialog is up
        std::uint8_t status;
    };
    const Case cases[] = {
        {"cancel button", "delay=50", [](TCdpProgressDlg& d) { d.findChild<QPushButton*>("CancelBtn")->click(); },
         asCancel},
        {"escape key", "delay=50",
         [](TCdpProgressDlg& d) {
             QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&d, &escape);
         },
         asCancel},
        {"window closed", "delay=50", [](TCdpProgressDlg& d) { d.close(); }, asCancel},
        // The first Q read of track 3's search fails.
        {"read error", "errors=2325", nullptr, asFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EmulatedDrive e(c.options);
        bool acted = false, stayedUp = true;
        DiscInfoWatched(*e.player, [&](TCdpProgressDlg& dialog) {
            if (acted) {
                stayedUp = stayedUp && dialog.isVisible(); // until the worker has stopped
                return;
            }
            if (c.act)
                c.act(dialog);
            acted = true;
        });
        EXPECT_TRUE(acted) << "the dialog showed";
        EXPECT_TRUE(stayedUp);
        EXPECT_EQ(e.player->GetLastAnalysisStatus(), c.status);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_EQ(OpenDialogs(), 0);
    }
}

TEST_F(ProgressDlgTest, NotificationsBeforeItShowsAreNotLost)
{
    // A worker may finish before the dialog's loop runs: the posted close still ends it.
    EmulatedDrive e("");
    TCdpProgressDlg dialog(*e.player);
    dialog.Prepare("Scan", "Elapsed", TDlgFont{});
    std::thread worker([&] {
        dialog.Notify(anReset, 0);
        dialog.Notify(anTotal, 3);
        dialog.Notify(anStep, 0);
        dialog.Notify(anFinished, 0);
    });
    worker.join();
    QTimer::singleShot(10000, &dialog, [&] {
        ADD_FAILURE() << "the dialog stays open";
        dialog.done(QDialog::Rejected);
    });
    dialog.ShowModal();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.State().caption, "Scan... (2/3)");
    EXPECT_EQ(dialog.findChild<QProgressBar*>("ProgressBar")->maximum(), 4);
    EXPECT_EQ(dialog.findChild<QProgressBar*>("ProgressBar")->value(), 2);
}

} // namespace
} // namespace vantrel
