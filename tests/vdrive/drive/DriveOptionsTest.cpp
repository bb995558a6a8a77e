#include "vdrive/drive/DriveOptions.h"

#include <gtest/gtest.h>

namespace vantrel::vdrive {
namespace {

TEST(DriveOptions, EveryKeyIsRead)
{
    DriveOptions o;
    std::string error;
    ASSERT_TRUE(ParseDriveOptions("jitter=12, seed=99,errors=30:7:30,delay=250,families=mmc+sony,"
                                  "vendor=ACME,product=CD-ROM XL-1,revision=1.02,ansi=0,bcd=1,plextor,"
                                  "ignore-speed=1,speeds=2822:706,no-cdtext=1,clock=2.5,tray-open-at=4500,"
                                  "overread=3",
                                  o, error))
        << error;
    EXPECT_EQ(o.jitter, 12);
    EXPECT_EQ(o.seed, 99u);
    EXPECT_EQ(o.errors, (std::vector<std::int64_t>{7, 30})); // sorted, each once
    EXPECT_EQ(o.delayMs, 250);
    EXPECT_EQ(o.families, family::kMmc | family::kSony);
    EXPECT_EQ(o.vendor, "ACME");
    EXPECT_EQ(o.product, "CD-ROM XL-1");
    EXPECT_EQ(o.revision, "1.02");
    EXPECT_EQ(o.ansi, 0);
    EXPECT_TRUE(o.bcdFullToc);
    EXPECT_TRUE(o.plextorQ);
    EXPECT_TRUE(o.ignoreSpeed);
    EXPECT_EQ(o.speeds, (std::vector<int>{706, 2822}));
    EXPECT_TRUE(o.noCdText);
    EXPECT_DOUBLE_EQ(o.clock, 2.5);
    EXPECT_EQ(o.trayOpenAt, 4500);
    EXPECT_EQ(o.overread, 3);
}

TEST(DriveOptions, EmptyTextKeepsTheDefaults)
{
    DriveOptions o;
    std::string error;
    ASSERT_TRUE(ParseDriveOptions("  ", o, error));
    EXPECT_EQ(o.families, family::kAll);
    EXPECT_EQ(o.trayOpenAt, -1);
    EXPECT_EQ(o.speeds.back(), 7056);
}

TEST(DriveOptions, BadEntriesNameTheirKey)
{
    const std::pair<const char*, const char*> cases[] = {
        {"speed=4", "'speed' is unknown"},
        {"jitter=-1", "'jitter'"},
        {"jitter=4x", "'jitter'"},
        {"jitter", "'jitter' needs a value"},
        {"errors=5::6", "'errors'"},
        {"families=mmc+scsi", "'families'"},
        {"vendor=NINECHARS", "'vendor'"},
        {"ansi=8", "'ansi'"},
        {"bcd=yes", "'bcd'"},
        {"clock=0", "'clock'"},
        {"clock=nan", "'clock'"},
        {"speeds=", "'speeds'"},
        {"seed=18446744073709551616", "'seed'"},
        {"jitter=1,,seed=2", "empty entry"},
    };
    for (const auto& [text, expected] : cases) {
        DriveOptions o;
        std::string error;
        EXPECT_FALSE(ParseDriveOptions(text, o, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << text << " gave: " << error;
    }
}

} // namespace
} // namespace vantrel::vdrive
