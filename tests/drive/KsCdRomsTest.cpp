#include "drive/KsCdRoms.h"

#include <gtest/gtest.h>

#include <deque>

#include "FakeScsiDevice.h"

namespace vantrel {
namespace {

using testing::FakeScsiDevice;

// Emulated devices on one virtual adapter, and letters that point at some of them.
class ScanTest : public ::testing::Test {
protected:
    FakeScsiDevice& AddDevice(const std::string& product = "EMULATED CD")
    {
        devices.emplace_back("VANTREL", product, "1.0");
        return devices.back();
    }
    // letter → virtual target; a target with no device makes an unpaired letter.
    void Build(const std::vector<std::pair<std::string, int>>& letters)
    {
        auto adapter = std::make_unique<TVirtualHostAdapter>();
        for (FakeScsiDevice& d : devices)
            adapter->Add(&d);
        aspi.AddAdapter(std::move(adapter));
        std::vector<LetterDrive> drives;
        for (const auto& [letter, target] : letters) {
            LetterDrive d;
            d.letter = letter;
            d.device = target < static_cast<int>(devices.size()) ? &devices[static_cast<std::size_t>(target)] : &spare;
            d.virtualAdapter = 0;
            d.virtualTarget = target;
            drives.push_back(d);
        }
        spti = std::make_unique<TSptiTransport>(drives);
        roms = std::make_unique<TKsCdRoms>(&aspi, spti.get());
    }
    std::string Summary(int i) const
    {
        return roms->GetDrive(i)->DriveLetter + (roms->GetMciAvail(i) ? " mci" : "") +
               (roms->GetSptiAvail(i) ? " spti" : "") + (roms->GetAspiAvail(i) ? " aspi" : "") + " t" +
               std::to_string(roms->GetDrive(i)->Target);
    }
    std::vector<std::string> All() const
    {
        std::vector<std::string> all;
        for (int i = 0; i < roms->GetCount(); ++i)
            all.push_back(Summary(i));
        return all;
    }

    std::deque<FakeScsiDevice> devices;
    FakeScsiDevice spare;
    TAspiManager aspi;
    std::unique_ptr<TSptiTransport> spti;
    std::unique_ptr<TKsCdRoms> roms;
};

TEST_F(ScanTest, TwoLettersAndThreeAdapterDevices)
{
    for (int i = 0; i < 3; ++i)
        AddDevice();
    Build({{"D:", 0}, {"E:", 1}});
    EXPECT_EQ(roms->Scan(0, true), 3);
    EXPECT_EQ(All(), (std::vector<std::string>{"D: mci spti aspi t0", "E: mci spti aspi t1", "0: aspi t2"}));
    EXPECT_EQ(roms->GetDrive(0)->Vendor(), "VANTREL ");
    EXPECT_EQ(roms->Scan(0, false), 2);
    EXPECT_TRUE(roms->SptiAvailable());
    EXPECT_TRUE(roms->AspiAvailable());
}

TEST_F(ScanTest, WithoutTheLetterPathAnUnpairedLetterIsLeftOut)
{
    AddDevice();
    Build({{"D:", 0}, {"E:", 5}});  // E: has no device on the adapter
    EXPECT_EQ(roms->Scan(1, true), 1);
    EXPECT_EQ(All(), (std::vector<std::string>{"D: mci aspi t0"}));
    EXPECT_EQ(roms->Scan(0, true), 2) << "with every path the unpaired letter stays";
    EXPECT_EQ(All(), (std::vector<std::string>{"D: mci spti aspi t0", "E: mci spti t0"}));
}

TEST_F(ScanTest, LettersOnlyWhenBothPathsAreOff)
{
    FakeScsiDevice& device = AddDevice();
    Build({{"D:", 0}, {"E:", 0}});
    EXPECT_EQ(roms->Scan(5, true), 2);
    EXPECT_EQ(All(), (std::vector<std::string>{"D: mci t0", "E: mci t0"}));
    EXPECT_EQ(roms->GetDrive(0)->Inquiry[8], 0) << "no inquiry";
    EXPECT_EQ(device.commands.load(), 0);
    EXPECT_FALSE(roms->SptiAvailable());
    EXPECT_FALSE(roms->AspiAvailable());
}

TEST_F(ScanTest, WithoutTheAdapterPathLettersAnswerInquiryThemselves)
{
    AddDevice();
    Build({{"D:", 0}});
    EXPECT_EQ(roms->Scan(2, true), 1);
    EXPECT_EQ(All(), (std::vector<std::string>{"D: mci spti t0"}));
    EXPECT_EQ(roms->GetDrive(0)->Product(), "EMULATED CD     ");
}

TEST_F(ScanTest, TheAdapterScanStopsAtTwentySixDevices)
{
    for (int i = 0; i < 30; ++i)
        AddDevice();
    Build({});
    EXPECT_EQ(roms->Scan(0, true), 26);
    EXPECT_EQ(roms->GetDrive(25)->DriveLetter, "25:");
    EXPECT_EQ(roms->GetDrive(26), nullptr);
}

TEST_F(ScanTest, IdenticalDrivesAreToldApartByTarget)
{
    AddDevice();
    AddDevice();
    Build({{"D:", 1}, {"E:", 0}});
    EXPECT_EQ(roms->Scan(0, false), 2);
    EXPECT_EQ(All(), (std::vector<std::string>{"D: mci spti aspi t1", "E: mci spti aspi t0"}));
    std::vector<std::string> letters;
    EXPECT_EQ(roms->CdromLetters(letters), 2);
}

TEST_F(ScanTest, AFailingInquiryKeepsALetterOff)
{
    FakeScsiDevice& device = AddDevice();
    device.refuse = true;
    Build({{"D:", 0}});
    EXPECT_EQ(roms->Scan(0, true), 0);
}

}  // namespace
}  // namespace vantrel
