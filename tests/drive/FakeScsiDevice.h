// A scriptable SCSI device for transport and scan tests: answers INQUIRY with the
// strings it is given, refuses what it is told to refuse, and can hang until released.
#pragma once

#include <atomic>
#include <cstring>
#include <string>

#include "drive/Aspi.h"
#include "platform/Event.h"

namespace vantrel::testing {

class FakeScsiDevice : public IScsiDevice {
public:
    FakeScsiDevice(std::string vendor = "VANTREL", std::string product = "EMULATED CD", std::string revision = "1.0")
        : vendor_(std::move(vendor)), product_(std::move(product)), revision_(std::move(revision))
    {
    }

    bool Execute(const ScsiRequest& request, ScsiSense& sense) override
    {
        ++commands;
        if (hang) {
            hanging.Set();
            release.Wait();
            if (request.buffer && request.direction == ScsiDirection::In)
                std::memset(request.buffer, 0xEE, request.length);  // too late for the caller
            return true;
        }
        if (refuse) {
            sense.bytes[0] = 0x70;
            sense.bytes[2] = 0x05;
            sense.bytes[12] = 0x24;
            return false;
        }
        if (request.cdb[0] == 0x12 && request.buffer) {  // INQUIRY
            std::memset(request.buffer, 0, request.length);
            std::uint8_t answer[100] = {5, 0x80, 5, 2, 31};
            Put(answer + 8, vendor_, 8);
            Put(answer + 16, product_, 16);
            Put(answer + 32, revision_, 4);
            std::memcpy(request.buffer, answer, std::min<std::size_t>(request.length, sizeof answer));
        }
        return true;
    }

    std::atomic<int> commands{0};
    bool refuse = false;
    bool hang = false;
    platform::Event hanging{platform::Event::Reset::Manual};
    platform::Event release{platform::Event::Reset::Manual};

private:
    static void Put(std::uint8_t* out, const std::string& text, std::size_t width)
    {
        std::memset(out, ' ', width);
        std::memcpy(out, text.data(), std::min(width, text.size()));
    }

    std::string vendor_, product_, revision_;
};

}  // namespace vantrel::testing
