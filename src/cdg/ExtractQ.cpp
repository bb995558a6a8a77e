#include "cdg/ExtractQ.h"

namespace vantrel {

void ExtractQ(const std::uint8_t raw[96], std::uint8_t q[12])
{
    for (int group = 0; group < 12; ++group) {
        unsigned byte = 0;
        for (int b = 0; b < 8; ++b)
            byte = byte << 1 | ((raw[group * 8 + b] >> 6) & 1u);
        q[group] = static_cast<std::uint8_t>(byte);
    }
}

} // namespace vantrel
