// One CD drive as the SCSI transports address it: host adapter, target and LUN for the
// adapter path, the drive letter for the letter path, and the drive's INQUIRY answer,
// from which its vendor, product, revision and ANSI version are read.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vantrel {

struct TKsCdRom {
    std::uint8_t HostAdapter = 0;
    std::uint8_t Target = 0;
    std::uint8_t Lun = 0;
    std::uint8_t Reserved = 0;
    std::string DriveLetter;                  // like "E:"
    std::array<std::uint8_t, 256> Inquiry{};  // the first bytes of the INQUIRY answer

    std::string Vendor() const { return Text(8, 8); }      // trailing blanks kept
    std::string Product() const { return Text(16, 16); }
    std::string Revision() const { return Text(32, 4); }
    int AnsiVersion() const { return Inquiry[2] & 7; }

private:
    std::string Text(std::size_t from, std::size_t length) const
    {
        std::string text(reinterpret_cast<const char*>(Inquiry.data() + from), length);
        if (const auto nul = text.find('\0'); nul != std::string::npos)
            text.resize(nul);
        return text;
    }
};

}  // namespace vantrel
