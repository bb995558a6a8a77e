// The command-line front end of the player, for scripts and machines without a display:
// lists drives, prints a disc's table of contents and identifiers, and rips tracks to
// WAV files through the player component. Disc images play in an emulated drive.
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

using vantrel::cli::Arguments;

const char kUsage[] =
    "Vantrel CD Player, command-line front end\n"
    "\n"
    "usage: vantrel-cli COMMAND [OPTIONS]\n"
    "  drives                                   list the CD drives\n"
    "  toc (--drive L | --image FILE) [--pregaps METHOD] [--manual] [--cdtext]\n"
    "                                           table of contents and disc identifiers\n"
    "  rip (--drive L | --image FILE) --out DIR [--track N | --all] [--method M]\n"
    "      [--read-at-once N --overlaps N --compares N] [--offset SAMPLES] [SIGNAL]\n"
    "      [--cdg [--subcode rw|raw]]           rip tracks to WAV files (and CD+G to .cdg)\n"
    "  play (--drive L | --image FILE) [--track N] [--mode mci|analog|digital]\n"
    "      [--output alsa] [--device NAME] [SIGNAL]\n"
    "                                           play through the sound device\n"
    "  ini-get FILE SECTION KEY                 print one value of a settings file\n"
    "  version\n"
    "\n"
    "  --image FILE         a disc image (.cue or .ccd) put into an emulated drive\n"
    "  --drive-option TEXT  that drive's personality and faults, e.g. jitter=400,seed=11\n"
    "  --drive L            a real or emulated drive by letter\n"
    "  SIGNAL               the signal chain: --deemphasis, --volume, --stereo, --eq,\n"
    "                       --speed, --reverse, --normalize, ... (rip --help lists them)\n"
    "Every command takes --help.\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    const std::map<std::string, std::function<int(const Arguments&)>> commands = {
        {"drives", vantrel::cli::Drives},
        {"toc", vantrel::cli::Toc},
        {"rip", vantrel::cli::Rip},
        {"play", vantrel::cli::Play},
        {"ini-get", vantrel::cli::IniGet},
        {"version", [](const Arguments&) {
             std::puts("vantrel-cli 0.1.0");
             return 0;
         }},
    };
    const auto found = commands.find(command);
    if (found == commands.end()) {
        std::fprintf(stderr, "vantrel-cli: unknown command '%s' (try --help)\n", command.c_str());
        return 2;
    }
    Arguments arguments;
    std::string error;
    if (!arguments.Parse(argc - 2, argv + 2, error)) {
        std::fprintf(stderr, "vantrel-cli %s: %s\n", command.c_str(), error.c_str());
        return 2;
    }
    return found->second(arguments);
}
