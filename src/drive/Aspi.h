// The adapter path to SCSI drives: host adapters addressed by number, devices by target
// and LUN, commands sent as request blocks that complete on an event. A request still
// pending after the fixed wait is aborted and fails. Adapters: the Linux SCSI generic
// hosts and one virtual adapter that holds the emulated drives.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive/ScsiTransport.h"
#include "platform/ScsiGeneric.h"

namespace vantrel {

namespace platform {
class Event;
}

// Request status codes.
inline constexpr std::uint8_t SS_PENDING = 0x00, SS_COMP = 0x01, SS_ABORTED = 0x02, SS_ERR = 0x04,
                              SS_INVALID_HA = 0x81, SS_NO_DEVICE = 0x82, SS_NO_ADAPTERS = 0xE8;
// Request flags.
inline constexpr std::uint8_t SRB_DIR_IN = 0x08, SRB_DIR_OUT = 0x10, SRB_EVENT_NOTIFY = 0x40;
inline constexpr int kCdromDeviceType = 5;

// A command request block: the caller fills the inputs, the manager the outcome.
struct SrbExecScsiCmd {
    std::uint8_t command = 2;
    std::uint8_t status = SS_PENDING;
    std::uint8_t hostAdapter = 0;
    std::uint8_t flags = 0;
    std::uint8_t target = 0, lun = 0;
    std::uint32_t bufferLength = 0;
    std::uint8_t* buffer = nullptr;
    std::uint8_t senseLength = kSenseBytes;
    std::uint8_t cdbLength = 0;
    std::uint8_t hostStatus = 0, targetStatus = 0;
    platform::Event* completion = nullptr;  // set when the request has finished
    std::uint8_t cdb[16] = {};
    std::uint8_t sense[kSenseBytes] = {};
};

// A device the adapter path can reach directly (an emulated drive).
class IScsiDevice {
public:
    virtual ~IScsiDevice() = default;
    virtual bool Execute(const ScsiRequest& request, ScsiSense& sense) = 0;
};

// One host adapter: which devices it has, and running one command on one of them (blocking).
class IHostAdapter {
public:
    virtual ~IHostAdapter() = default;
    virtual int MaxTargets() const = 0;  // 0 stands for 8
    virtual int DeviceType(int target, int lun) const = 0;  // -1: no device there
    virtual bool Execute(int target, int lun, const ScsiRequest& request, ScsiSense& sense) = 0;
};

// The SCSI generic devices of one Linux host and channel.
class TSgHostAdapter : public IHostAdapter {
public:
    struct Device {
        int target, lun, type;
        std::string node;  // /dev/sgN
    };
    explicit TSgHostAdapter(std::vector<Device> devices) : devices_(std::move(devices)) {}
    int MaxTargets() const override;
    int DeviceType(int target, int lun) const override;
    bool Execute(int target, int lun, const ScsiRequest& request, ScsiSense& sense) override;

private:
    std::vector<Device> devices_;
};

// The adapter of the emulated drives: drive k is target k, LUN 0, a CD-ROM.
class TVirtualHostAdapter : public IHostAdapter {
public:
    int Add(IScsiDevice* device);  // returns its target; the device must outlive the adapter
    int MaxTargets() const override { return std::max<int>(1, static_cast<int>(devices_.size())); }
    int DeviceType(int target, int lun) const override;
    bool Execute(int target, int lun, const ScsiRequest& request, ScsiSense& sense) override;

private:
    std::vector<IScsiDevice*> devices_;
};

class TAspiManager {
public:
    explicit TAspiManager(std::chrono::milliseconds wait = std::chrono::seconds(10));
    ~TAspiManager();
    TAspiManager(const TAspiManager&) = delete;
    TAspiManager& operator=(const TAspiManager&) = delete;

    // Adds an adapter; returns its number. Before any request is sent.
    int AddAdapter(std::unique_ptr<IHostAdapter> adapter);
    // One adapter per Linux host and channel that has SCSI generic devices.
    void AddSystemAdapters(const std::string& sysfsRoot = "/sys");
    // The adapter number and the Linux host and channel behind each system adapter.
    int AdapterOf(const platform::ScsiAddress& address) const;

    // "Loading": true when any adapter exists.
    bool Load() const { return !adapters_.empty(); }
    // Status in bits 8..15 (completed, or no adapters), adapter count in bits 0..7.
    std::uint32_t SupportInfo() const;
    std::uint8_t AdapterInquiry(int adapter, int& maxTargets) const;
    std::uint8_t DeviceType(int adapter, int target, int lun, int& type) const;
    // Runs the request, waiting for its event at most the fixed wait; a request still
    // pending then is aborted and 0 returned. Otherwise the request's final status.
    std::uint8_t Execute(SrbExecScsiCmd& srb);

private:
    struct Job;
    struct Worker;
    std::chrono::milliseconds wait_;
    std::vector<std::unique_ptr<IHostAdapter>> adapters_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::pair<platform::ScsiAddress, int>> systemAdapters_;  // host, channel → number
};

// The command layer's view of the adapter path.
class TAspiTransport : public IScsiTransport {
public:
    explicit TAspiTransport(TAspiManager& manager) : manager_(manager) {}
    bool Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense) override;

private:
    TAspiManager& manager_;
};

}  // namespace vantrel
