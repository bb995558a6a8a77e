#include "drive/KsCdRoms.h"

#include <algorithm>

#include "drive/KsCdCommands.h"
#include "support/TextUtils.h"

namespace vantrel {

namespace {
bool SameText(const std::string& a, const std::string& b) { return TrimControl(a) == TrimControl(b); }
}  // namespace

const TKsCdRom* TKsCdRoms::GetDrive(int index) const
{
    return index >= 0 && index < GetCount() ? &drives_[static_cast<std::size_t>(index)] : nullptr;
}
bool TKsCdRoms::GetMciAvail(int index) const { return GetDrive(index) && modes_[static_cast<std::size_t>(index)].mci; }
bool TKsCdRoms::GetSptiAvail(int index) const { return GetDrive(index) && modes_[static_cast<std::size_t>(index)].spti; }
bool TKsCdRoms::GetAspiAvail(int index) const { return GetDrive(index) && modes_[static_cast<std::size_t>(index)].aspi; }

int TKsCdRoms::CdromLetters(std::vector<std::string>& list) const
{
    list.clear();
    if (spti_)
        for (const LetterDrive& d : spti_->Drives())
            list.push_back(d.letter);
    return static_cast<int>(list.size());
}

void TKsCdRoms::Add(const TKsCdRom& drive, Modes modes)
{
    drives_.push_back(drive);
    modes_.push_back(modes);
}

std::vector<TKsCdRom> TKsCdRoms::ScanAspiDevices() const
{
    std::vector<TKsCdRom> devices;
    const std::uint32_t info = aspi_->SupportInfo();
    const std::uint32_t status = info >> 8 & 0xFF;
    if (status != SS_COMP && status != SS_NO_ADAPTERS)
        return devices;
    TAspiTransport transport(*aspi_);
    const int adapters = static_cast<int>(info & 0xFF);
    for (int adapter = 0; adapter < adapters; ++adapter) {
        int targets = 0;
        if (aspi_->AdapterInquiry(adapter, targets) != SS_COMP)
            continue;
        if (targets == 0)
            targets = 8;
        for (int target = 0; target < targets; ++target)
            for (int lun = 0; lun < 8 && devices.size() < kMaxCdRoms; ++lun) {
                int type = -1;
                if (aspi_->DeviceType(adapter, target, lun, type) != SS_COMP || type != kCdromDeviceType)
                    continue;
                TKsCdRom drive;
                drive.HostAdapter = static_cast<std::uint8_t>(adapter);
                drive.Target = static_cast<std::uint8_t>(target);
                drive.Lun = static_cast<std::uint8_t>(lun);
                if (Inquiry(transport, drive))
                    devices.push_back(drive);
            }
    }
    return devices;
}

int TKsCdRoms::DriveIndexFromLetter(const std::string& letter, const std::vector<TKsCdRom>& aspiDrives,
                                    std::vector<bool>& used) const
{
    const LetterDrive* d = spti_ ? spti_->Find(letter) : nullptr;
    if (!d || !aspi_)
        return -1;
    const int adapter = d->device ? d->virtualAdapter : aspi_->AdapterOf(d->address);
    const int target = d->device ? d->virtualTarget : d->address.target;
    const int lun = d->device ? 0 : d->address.lun;
    if (adapter < 0)
        return -1;
    used.resize(aspiDrives.size(), false);
    for (std::size_t i = 0; i < aspiDrives.size(); ++i) {
        const TKsCdRom& a = aspiDrives[i];
        if (used[i] || a.HostAdapter != adapter || a.Target != target || a.Lun != lun)
            continue;
        // An emulated drive records no strings of its own beside its device: the address decides.
        if (!d->device && !(SameText(a.Vendor(), d->vendor) && SameText(a.Product(), d->product) &&
                            SameText(a.Revision(), d->revision)))
            continue;
        used[i] = true;
        return static_cast<int>(i);
    }
    return -1;
}

int TKsCdRoms::Scan(int selector, bool addNonLettered)
{
    drives_.clear();
    modes_.clear();
    std::vector<std::string> letters;
    CdromLetters(letters);

    if (selector == 5) {
        sptiAvailable_ = aspiAvailable_ = false;
        for (const std::string& letter : letters) {
            TKsCdRom drive;
            drive.DriveLetter = letter;
            Add(drive, {true, false, false});
        }
        return GetCount();
    }
    sptiAvailable_ = selector != 1 && spti_ && spti_->Available();
    aspiAvailable_ = selector != 2 && aspi_ && aspi_->Load();
    if ((!sptiAvailable_ && (selector == 2 || selector == 3)) || (!aspiAvailable_ && (selector == 1 || selector == 3)) ||
        (!sptiAvailable_ && !aspiAvailable_ && selector != 0))
        return 0;

    std::vector<TKsCdRom> letterDrives;
    for (const std::string& letter : letters) {
        TKsCdRom drive;
        drive.DriveLetter = letter;
        if (selector != 1 && sptiAvailable_ && !Inquiry(*spti_, drive))
            continue;
        letterDrives.push_back(drive);
    }
    if (!aspiAvailable_) {
        for (const TKsCdRom& drive : letterDrives)
            Add(drive, {true, sptiAvailable_, false});
        return GetCount();
    }

    const std::vector<TKsCdRom> aspiDrives = selector == 2 ? std::vector<TKsCdRom>{} : ScanAspiDevices();
    std::vector<bool> used(aspiDrives.size(), false);
    for (const TKsCdRom& drive : letterDrives) {
        const int index = DriveIndexFromLetter(drive.DriveLetter, aspiDrives, used);
        if (index >= 0) {
            TKsCdRom paired = aspiDrives[static_cast<std::size_t>(index)];
            paired.DriveLetter = drive.DriveLetter;
            Add(paired, {true, sptiAvailable_, true});
        } else if (selector == 0 || ((selector == 2 || selector == 4) && sptiAvailable_)) {
            Add(drive, {true, sptiAvailable_, false});
        }
    }
    if (addNonLettered) {
        int counter = 0;
        for (std::size_t i = 0; i < aspiDrives.size(); ++i) {
            if (used[i])
                continue;
            TKsCdRom drive = aspiDrives[i];
            drive.DriveLetter = std::to_string(counter++) + ":";
            Add(drive, {false, false, true});
        }
    }
    return GetCount();
}

}  // namespace vantrel
