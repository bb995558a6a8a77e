// Fuzz entry for the CloneCD control-file reader: any text, against a small .img and
// .sub, must either give a disc whose tracks are in order or an error, never a crash.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "vdrive/CloneCd.h"

namespace {

const std::string& ImageBase()
{
    static const std::string base = [] {
        const auto folder = std::filesystem::temp_directory_path() / "vantrel-ccd-fuzz";
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "d.img", std::ios::binary) << std::string(2352 * 600, '\x11');
        std::ofstream(folder / "d.sub", std::ios::binary) << std::string(96 * 600, '\x40');
        return (folder / "d").string();
    }();
    return base;
}

}  // namespace

int CcdFuzzOne(const std::uint8_t* data, std::size_t size)
{
    vantrel::vdrive::Disc disc;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (vantrel::vdrive::ReadCloneCdText(text, "fuzz.ccd", ImageBase(), disc, error)) {
        for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
            const auto& t = disc.tracks[i];
            if (t.end <= t.start || (i > 0 && t.pregapStart < disc.tracks[i - 1].end))
                __builtin_trap();
        }
        std::uint8_t sector[2352], sub[96];
        for (const auto& t : disc.tracks)
            if (!disc.ReadSector(t.end - 1, sector) || !disc.ReadSubchannel(t.start, sub))
                __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}

#ifdef VANTREL_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return CcdFuzzOne(data, size);
}
#endif
