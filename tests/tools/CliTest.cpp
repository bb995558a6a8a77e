// The command-line front end run as a user runs it: real processes, real image files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "CliRun.h"
#include "common/TempDir.h"

namespace vantrel {
namespace {

using testing::Execute;
using testing::Outcome;

class CliTest : public ::testing::Test {
protected:
    std::string MakeDisc(const std::string& description)
    {
        const Outcome made = Execute(std::string(MKDISC) + " -e '" + description + "' " + dir.Path().string());
        EXPECT_EQ(made.status, 0) << made.out;
        return made.out.substr(0, made.out.find('\n'));
    }
    Outcome Cli(const std::string& arguments) { return Execute(std::string(VANTREL_CLI) + " " + arguments); }

    testing::TempDir dir;
};

TEST_F(CliTest, TocPrintsTracksAndIdentifiers)
{
    const std::string image = MakeDisc("disc\ntrack length=00:05:00 pre=1\n");
    const Outcome run = Cli("toc --image " + image);
    ASSERT_EQ(run.status, 0) << run.out;
    // One track from 00:02:00 for 375 frames; lead-out 00:07:00.
    // CDDB: digit sum 2, 7 - 2 = 5 seconds, one track; CD Player: 0x200 + 375 = 0x377.
    EXPECT_EQ(run.out, "01  00:02:00  00:05:00  audio pre\n"
                       "cddb-id 02000501\n"
                       "cdplayer-id 377\n"
                       "seconds 7\n"
                       "query cddb query 02000501 1 150 7\n");
}

TEST_F(CliTest, TocFindsPreGapsRebuildsTheTableAndReadsCdText)
{
    const std::string image = MakeDisc("disc sub=raw title=\"Demo\" hidden=00:03:00\n"
                                       "track length=00:10:00 title=\"One\"\n"
                                       "track length=00:05:00\n"
                                       "track length=00:05:00 pregap=00:04:00\n");
    // Track 1 at 00:05:00 after the hidden audio, track 2 at 00:15:00 without a pre-gap,
    // track 3 at 00:24:00 after a 4-second pre-gap from 00:20:00.
    for (const char* method : {"auto", "readcdda", "readcd", "subchannel"}) {
        const Outcome run = Cli("toc --image " + image + " --pregaps " + method);
        ASSERT_EQ(run.status, 0) << method << ": " << run.out;
        EXPECT_NE(run.out.find("track 2 index0 - index1 00:15:00\ntrack 3 index0 00:20:00 index1 00:24:00\n"),
                  std::string::npos)
            << method << ": " << run.out;
    }
    const Outcome plain = Cli("toc --image " + image);
    const Outcome manual = Cli("toc --image " + image + " --manual");
    ASSERT_EQ(manual.status, 0) << manual.out;
    EXPECT_EQ(manual.out, plain.out) << "the table rebuilt from the sub-channel is the drive's";
    const Outcome text = Cli("toc --image " + image + " --cdtext");
    EXPECT_NE(text.out.find("cdtext title 0 Demo\ncdtext title 1 One\n"), std::string::npos) << text.out;
    EXPECT_NE(Cli("toc --image " + image + " --pregaps guess").status, 0);
}

TEST_F(CliTest, DrivesListsTheEmulatedDrive)
{
    const std::string image = MakeDisc("disc\ntrack length=00:01:00\n");
    const Outcome run = Cli("drives --image " + image + " --drive-option vendor=ACME,product=SPINNER");
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("V:  ACME     SPINNER          MCI/ASPI/SPTI"), std::string::npos) << run.out;
}

TEST_F(CliTest, MistakesEndWithOneLineAndAFailingStatus)
{
    const std::string image = MakeDisc("disc\ntrack length=00:01:00\n");
    struct Case {
        std::string arguments;
        std::string message;
    };
    const Case cases[] = {
        {"toc", "give --drive L or --image FILE"},
        {"toc --image " + dir.File("missing.cue"), "missing.cue"},
        {"toc --image " + image + " --drive-option wobble=3", "wobble"},
        {"toc --drive Q", "no drive Q:"},
        {"toc --image " + image + " --bogus", "unknown option --bogus"},
        {"frobnicate", "unknown command 'frobnicate'"},
        {"toc --image", "--image needs a value"},
    };
    for (const Case& c : cases) {
        const Outcome run = Cli(c.arguments);
        EXPECT_NE(run.status, 0) << c.arguments;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << c.arguments << ": " << run.out;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << c.arguments << ": " << run.out;
    }
    EXPECT_EQ(Cli("toc --help").status, 0);
}

}  // namespace
}  // namespace vantrel
