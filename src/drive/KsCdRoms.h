// The list of CD drives the player works with. Drives are found by letter, through the
// adapter path (every CD-ROM device on every adapter) and through the letter path, then
// each adapter device is paired with its letter by SCSI address and INQUIRY strings.
#pragma once

#include <string>
#include <vector>

#include "drive/Aspi.h"
#include "drive/KsCdRom.h"
#include "drive/Spti.h"

namespace vantrel {

inline constexpr int kMaxCdRoms = 26;

class TKsCdRoms {
public:
    // Either path may be missing; the list then holds what the other one offers.
    TKsCdRoms(TAspiManager* aspi, TSptiTransport* spti) : aspi_(aspi), spti_(spti) {}

    // selector: 0 every path, 1 no letter path, 2 no adapter path, 5 neither (letters only).
    int Scan(int selector, bool addNonLettered);

    int GetCount() const { return static_cast<int>(std::min(drives_.size(), modes_.size())); }
    const TKsCdRom* GetDrive(int index) const;
    bool GetMciAvail(int index) const;
    bool GetSptiAvail(int index) const;
    bool GetAspiAvail(int index) const;
    bool SptiAvailable() const { return sptiAvailable_; }
    bool AspiAvailable() const { return aspiAvailable_; }

    // The adapter device behind letter among aspiDrives (first unused one with the same
    // adapter, target and LUN and the same INQUIRY strings), marked used; -1 for none.
    int DriveIndexFromLetter(const std::string& letter, const std::vector<TKsCdRom>& aspiDrives,
                             std::vector<bool>& used) const;
    // "A:" to "Z:" of the CD drives, in order.
    int CdromLetters(std::vector<std::string>& list) const;

private:
    struct Modes {
        bool mci = false, spti = false, aspi = false;
    };
    std::vector<TKsCdRom> ScanAspiDevices() const;
    void Add(const TKsCdRom& drive, Modes modes);

    TAspiManager* aspi_;
    TSptiTransport* spti_;
    bool sptiAvailable_ = false;
    bool aspiAvailable_ = false;
    std::vector<TKsCdRom> drives_;
    std::vector<Modes> modes_;
};

}  // namespace vantrel
