// mkdisc: writes a synthetic disc image (CUE/BIN with an optional .sub) from a short
// text description, for tests and demos. Usage:
//   mkdisc DESCRIPTION-FILE OUTPUT-FOLDER
//   mkdisc -e 'DESCRIPTION' OUTPUT-FOLDER
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "vdrive/DiscMaker.h"

int main(int argc, char** argv)
{
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[1], "-e") == 0)) {
        std::fprintf(stderr,
                     "usage: mkdisc DESCRIPTION-FILE OUTPUT-FOLDER\n"
                     "       mkdisc -e 'DESCRIPTION' OUTPUT-FOLDER\n"
                     "description lines:\n"
                     "  disc [format=cue] [sub=none|raw|channels] [name=N] [hidden=MM:SS:FF] [title=\"..\"]\n"
                     "       [performer=\"..\"] [songwriter=\"..\"] [cdg-error=PACK:SYMBOL ...]\n"
                     "  track length=MM:SS:FF [pregap=MM:SS:FF] [index=MM:SS:FF ...]\n"
                     "        [audio=counter|silence|tone:HZ] [pre=1] [dcp=1] [data=1] [session=2] [cdg=1]\n"
                     "        [title=\"..\"] [performer=\"..\"] [songwriter=\"..\"]\n");
        return 2;
    }
    std::string text;
    if (argc == 4) {
        text = argv[2];
    } else {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "mkdisc: cannot read %s\n", argv[1]);
            return 1;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string folder = argv[argc - 1];
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    vantrel::vdrive::DiscPlan plan;
    std::string error, image;
    if (!vantrel::vdrive::ParseDiscPlan(text, plan, error) || !vantrel::vdrive::MakeDisc(plan, folder, image, error)) {
        std::fprintf(stderr, "mkdisc: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", image.c_str());
    return 0;
}
