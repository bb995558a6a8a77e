// The command-line front end of the player. Playing and ripping arrive with the
// engines; for now it tells what it is and reads settings files.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/KsFastIniReader.h"

namespace {

void Usage()
{
    std::puts("Vantrel CD Player, command-line front end\n"
              "\n"
              "usage:\n"
              "  vantrel-cli version\n"
              "  vantrel-cli ini-get FILE SECTION KEY   print one value of a settings file\n"
              "\n"
              "Playing and ripping from drives and disc images come with the playback engines.");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "version") == 0) {
        std::puts("vantrel-cli 0.1.0");
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "ini-get") == 0) {
        vantrel::TKsFastIniReader reader(argv[2]);
        if (!reader.OpenSection(argv[3])) {
            std::fprintf(stderr, "vantrel-cli: no section [%s] in %s\n", argv[3], argv[2]);
            return 1;
        }
        static const char kAbsent[] = "\x01"
                                      "absent";
        const std::string value = reader.ReadString(argv[4], kAbsent);
        if (value == kAbsent) {
            std::fprintf(stderr, "vantrel-cli: no key %s in [%s]\n", argv[4], argv[3]);
            return 1;
        }
        std::puts(value.c_str());
        return 0;
    }
    Usage();
    return argc == 1 || (argc == 2 && (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0)) ? 0
                                                                                                                  : 2;
}
