#include "platform/ScsiGeneric.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace vantrel::platform {

sg_io_hdr_t MakeSgIoHeader(const std::uint8_t* cdb, std::size_t cdbLength, SgDirection direction,
                           std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs, std::uint8_t* sense)
{
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.cmdp = const_cast<unsigned char*>(cdb);
    header.cmd_len = static_cast<unsigned char>(cdbLength);
    header.sbp = sense;
    header.mx_sb_len = 14;
    const bool data = direction != SgDirection::None && buffer && length > 0;
    header.dxfer_direction =
        !data ? SG_DXFER_NONE : direction == SgDirection::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    header.dxferp = data ? buffer : nullptr;
    header.dxfer_len = data ? static_cast<unsigned int>(length) : 0;
    header.timeout = timeoutMs;
    return header;
}

SgOutcome SgExecute(int fd, const std::uint8_t* cdb, std::size_t cdbLength, SgDirection direction,
                    std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs, std::uint8_t* sense)
{
    SgOutcome outcome;
    sg_io_hdr_t header = MakeSgIoHeader(cdb, cdbLength, direction, buffer, length, timeoutMs, sense);
    if (::ioctl(fd, SG_IO, &header) < 0) {
        outcome.error = errno;
        return outcome;
    }
    outcome.status = header.status;
    outcome.hostStatus = header.host_status;
    outcome.driverStatus = header.driver_status;
    // A CHECK CONDITION is a failure: the data of a failed read must never pass as audio.
    outcome.ok = header.status == 0 && header.host_status == 0 && (header.driver_status & 0x0F) == 0 &&
                 (header.info & SG_INFO_OK_MASK) == SG_INFO_OK;
    return outcome;
}

SgOutcome SgExecutePath(const std::string& path, const std::uint8_t* cdb, std::size_t cdbLength,
                        SgDirection direction, std::uint8_t* buffer, std::size_t length, std::uint32_t timeoutMs,
                        std::uint8_t* sense)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    const int fallback = fd >= 0 ? fd : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fallback < 0) {
        SgOutcome outcome;
        outcome.error = errno;
        return outcome;
    }
    const SgOutcome outcome = SgExecute(fallback, cdb, cdbLength, direction, buffer, length, timeoutMs, sense);
    ::close(fallback);
    return outcome;
}

namespace {

bool ParseAddress(const std::string& text, ScsiAddress& address)
{
    char tail = 0;
    return std::sscanf(text.c_str(), "%d:%d:%d:%d%c", &address.host, &address.channel, &address.target,
                       &address.lun, &tail) == 4;
}

int ReadNumber(const std::filesystem::path& file)
{
    std::ifstream in(file);
    int value = -1;
    in >> value;
    return in ? value : -1;
}

// The devices under folder whose names start with prefix, with the address their
// "device" link leads to.
std::vector<SysfsDevice> List(const std::filesystem::path& folder, const std::string& prefix)
{
    std::vector<std::pair<int, SysfsDevice>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size())
            continue;
        const std::string digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), ::isdigit) || digits.size() > 6)
            continue;
        const std::filesystem::path device = entry.path() / "device";
        const std::filesystem::path target = std::filesystem::canonical(device, ec);
        if (ec)
            continue;
        SysfsDevice d;
        d.node = "/dev/" + name;
        if (!ParseAddress(target.filename().string(), d.address))
            continue;
        d.type = ReadNumber(device / "type");
        found.emplace_back(std::stoi(digits), d);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SysfsDevice> devices;
    for (auto& [number, device] : found)
        devices.push_back(device);
    return devices;
}

}  // namespace

std::vector<SysfsDevice> ListScsiGeneric(const std::string& root)
{
    return List(std::filesystem::path(root) / "class" / "scsi_generic", "sg");
}

std::vector<SysfsDevice> ListOpticalDrives(const std::string& root)
{
    return List(std::filesystem::path(root) / "block", "sr");
}

}  // namespace vantrel::platform
