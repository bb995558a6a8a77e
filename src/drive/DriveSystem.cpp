#include "drive/DriveSystem.h"

namespace vantrel {

TDriveSystem::TDriveSystem(const std::vector<Emulated>& emulated, const std::string& sysfsRoot,
                           std::chrono::milliseconds aspiWait)
    : aspi_(aspiWait), aspiTransport_(aspi_)
{
    aspi_.AddSystemAdapters(sysfsRoot);
    std::vector<EmulatedDriveEntry> entries;
    if (!emulated.empty()) {
        auto adapter = std::make_unique<TVirtualHostAdapter>();
        TVirtualHostAdapter* virtualAdapter = adapter.get();
        const int number = aspi_.AddAdapter(std::move(adapter));
        for (const Emulated& e : emulated)
            entries.push_back({e.device, e.letter, number, virtualAdapter->Add(e.device)});
    }
    spti_ = std::make_unique<TSptiTransport>(AssignDriveLetters(platform::ListOpticalDrives(sysfsRoot), entries, sysfsRoot));
    roms_ = std::make_unique<TKsCdRoms>(&aspi_, spti_.get());
}

}  // namespace vantrel
