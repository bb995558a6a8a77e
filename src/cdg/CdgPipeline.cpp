#include "cdg/CdgPipeline.h"

namespace vantrel {

void MaskToRw(std::uint8_t* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] &= 0x3F;
}

bool TCdgPipeline::Setup(const TCdgPipelineSetup& setup)
{
    setup_ = setup;
    sync_.SetStep(setup.syncStep);
    interleave_.ResetDelayLine();
    return sync_.Init(setup.syncSectors);
}

void TCdgPipeline::Restart()
{
    sync_.ForgetTail();
    interleave_.ResetDelayLine();
}

TCdgRunPacks TCdgPipeline::Process(std::uint8_t* subChannel, std::uint32_t sectors, std::uint32_t repeatSectors)
{
    const std::uint32_t count = sectors * static_cast<std::uint32_t>(kCdgPacksPerSector);
    MaskToRw(subChannel, std::size_t{count} * kCdgPackBytes);
    TCdgRunPacks run;
    std::uint32_t start = 0;
    run.sync = sync_.Sync(subChannel, count, run.count, start,
                          repeatSectors * static_cast<std::uint32_t>(kCdgPacksPerSector));
    std::uint8_t* packs = subChannel + std::size_t{start} * kCdgPackBytes;
    run.packs = packs;
    if (!setup_.raw)
        return run;
    interleave_.DeInterleave(packs, run.count);
    if (setup_.correct)
        for (std::uint32_t p = 0; p < run.count; ++p) {
            std::uint8_t* pack = packs + std::size_t{p} * kCdgPackBytes;
            correct_.CorrectP(pack);
            correct_.CorrectQ(pack);
        }
    return run;
}

} // namespace vantrel
