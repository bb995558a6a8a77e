#include "engine/DigitalEngine.h"

namespace vantrel {

namespace {
// How long a stopped play may take to close its output and let the drive go.
constexpr std::uint32_t kStopWaitMs = 5000;
} // namespace

bool TDigitalEngine::SetDrive(int drive, Transport transport, std::int64_t startFrame, std::int64_t endFrame)
{
    const TKsCdRom* rom = system_.Roms().GetDrive(drive);
    if (!rom)
        return false;
    IScsiTransport* path =
        transport == Transport::Aspi ? &system_.AspiTransport() : static_cast<IScsiTransport*>(&system_.Spti());
    return player_.SetDrive(*rom, path, transport, startFrame, endFrame);
}

bool TDigitalEngine::Stop()
{
    return player_.Stop() && player_.WaitIdle(kStopWaitMs);
}

} // namespace vantrel
