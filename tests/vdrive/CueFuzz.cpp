// Fuzz entry for the cue-sheet reader: any text, against a folder holding a small BIN
// and a .sub, must either give a disc whose tracks are in order or an error, never a crash.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "vdrive/CueSheet.h"

namespace {

const std::string& Folder()
{
    static const std::string folder = [] {
        const auto path = std::filesystem::temp_directory_path() / "vantrel-cue-fuzz";
        std::filesystem::create_directories(path);
        std::ofstream(path / "a.bin", std::ios::binary) << std::string(2352 * 300, '\x11');
        std::ofstream(path / "b.bin", std::ios::binary) << std::string(2352 * 20, '\x22');
        std::ofstream(path / "a.sub", std::ios::binary) << std::string(96 * 300, '\x40');
        std::ofstream(path / "t.cdt", std::ios::binary) << std::string(18 * 4, '\x80');
        return path.string();
    }();
    return folder;
}

}  // namespace

int CueFuzzOne(const std::uint8_t* data, std::size_t size)
{
    vantrel::vdrive::Disc disc;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (vantrel::vdrive::ReadCueText(text, "fuzz.cue", Folder(), disc, error)) {
        for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
            const auto& t = disc.tracks[i];
            if (t.start < t.pregapStart || t.end <= t.start || (i > 0 && t.pregapStart < disc.tracks[i - 1].end))
                __builtin_trap();
        }
        std::uint8_t sector[2352], sub[96];
        for (const auto& t : disc.tracks)
            if (!disc.ReadSector(t.start, sector) || !disc.ReadSubchannel(t.end - 1, sub))
                __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}

#ifdef VANTREL_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return CueFuzzOne(data, size);
}
#endif
