#include "drive/Spti.h"

#include <algorithm>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace vantrel {

namespace {

std::string ReadLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n'))
        line.pop_back();
    return line;
}

std::string NextFree(const std::vector<LetterDrive>& taken, char from)
{
    for (char c = from; c <= 'Z'; ++c) {
        const std::string letter{c, ':'};
        if (std::none_of(taken.begin(), taken.end(), [&](const LetterDrive& d) { return d.letter == letter; }))
            return letter;
    }
    return {};
}

bool ValidLetter(const std::string& letter)
{
    return letter.size() == 2 && letter[0] >= 'A' && letter[0] <= 'Z' && letter[1] == ':';
}

}  // namespace

std::vector<LetterDrive> AssignDriveLetters(const std::vector<platform::SysfsDevice>& optical,
                                            const std::vector<EmulatedDriveEntry>& emulated,
                                            const std::string& sysfsRoot)
{
    std::vector<LetterDrive> drives;
    std::vector<const EmulatedDriveEntry*> unlettered;
    for (const EmulatedDriveEntry& e : emulated) {
        LetterDrive d;
        d.device = e.device;
        d.virtualAdapter = e.virtualAdapter;
        d.virtualTarget = e.virtualTarget;
        if (ValidLetter(e.wantedLetter) && NextFree(drives, e.wantedLetter[0]) == e.wantedLetter) {
            d.letter = e.wantedLetter;
            drives.push_back(d);
        } else {
            unlettered.push_back(&e);
        }
    }
    for (const platform::SysfsDevice& o : optical) {
        LetterDrive d;
        d.node = o.node;
        d.address = o.address;
        const std::filesystem::path device =
            std::filesystem::path(sysfsRoot) / "block" / std::filesystem::path(o.node).filename() / "device";
        d.vendor = ReadLine(device / "vendor");
        d.product = ReadLine(device / "model");
        d.revision = ReadLine(device / "rev");
        d.letter = NextFree(drives, 'D');
        if (!d.letter.empty())
            drives.push_back(d);
    }
    for (const EmulatedDriveEntry* e : unlettered) {
        LetterDrive d;
        d.device = e->device;
        d.virtualAdapter = e->virtualAdapter;
        d.virtualTarget = e->virtualTarget;
        d.letter = NextFree(drives, 'V');
        if (d.letter.empty())
            d.letter = NextFree(drives, 'D');
        if (!d.letter.empty())
            drives.push_back(d);
    }
    std::sort(drives.begin(), drives.end(), [](const LetterDrive& a, const LetterDrive& b) { return a.letter < b.letter; });
    return drives;
}

std::uint32_t SptiTimeoutSeconds(std::uint32_t milliseconds)
{
    if (milliseconds < 1000)
        return 1;
    if (milliseconds > 108000)
        return 108;
    return milliseconds / 1000;
}

const LetterDrive* TSptiTransport::Find(const std::string& letter) const
{
    for (const LetterDrive& d : drives_)
        if (d.letter == letter)
            return &d;
    return nullptr;
}

bool TSptiTransport::Send(const LetterDrive& drive, const ScsiRequest& request, ScsiSense& sense, int* error)
{
    sense = ScsiSense{};
    if (drive.device)
        return drive.device->Execute(request, sense);
    const auto direction = request.direction == ScsiDirection::In    ? platform::SgDirection::In
                           : request.direction == ScsiDirection::Out ? platform::SgDirection::Out
                                                                     : platform::SgDirection::None;
    const platform::SgOutcome outcome =
        platform::SgExecutePath(drive.node, request.cdb, request.cdbLength, direction, request.buffer, request.length,
                                SptiTimeoutSeconds(request.timeoutMs) * 1000, sense.bytes.data());
    if (error)
        *error = outcome.error;
    return outcome.ok;
}

bool TSptiTransport::Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense)
{
    const LetterDrive* target = Find(drive.DriveLetter);
    return target && Send(*target, request, sense, nullptr);
}

bool TSptiTransport::Available()
{
    if (available_ >= 0)
        return available_ == 1;
    available_ = 0;
    static const std::uint8_t allow[6] = {0x1E, 0, 0, 0, 0, 0};
    for (const LetterDrive& d : drives_) {
        if (!d.device && ::access(d.node.c_str(), F_OK) != 0)
            continue;  // cannot be opened: try the next letter
        ScsiSense sense;
        int error = 0;
        const ScsiRequest request{allow, sizeof allow, ScsiDirection::None, nullptr, 0, 5000};
        if (Send(d, request, sense, &error)) {
            available_ = 1;
            break;
        }
        if (error == EACCES || error == EPERM) {
            available_ = 0;  // access denied: the path is not available at all
            break;
        }
        if (error == ENOENT || error == ENXIO || error == ENODEV)
            continue;  // the device could not be opened
        available_ = 1;  // refused by the drive, but reachable
    }
    return available_ == 1;
}

}  // namespace vantrel
