#include "drive/Aspi.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/Event.h"

namespace vantrel {

// ---- adapters ----

int TSgHostAdapter::MaxTargets() const
{
    int most = 0;
    for (const Device& d : devices_)
        most = std::max(most, d.target + 1);
    return most;
}

int TSgHostAdapter::DeviceType(int target, int lun) const
{
    for (const Device& d : devices_)
        if (d.target == target && d.lun == lun)
            return d.type;
    return -1;
}

bool TSgHostAdapter::Execute(int target, int lun, const ScsiRequest& request, ScsiSense& sense)
{
    for (const Device& d : devices_) {
        if (d.target != target || d.lun != lun)
            continue;
        const auto direction = request.direction == ScsiDirection::In    ? platform::SgDirection::In
                               : request.direction == ScsiDirection::Out ? platform::SgDirection::Out
                                                                         : platform::SgDirection::None;
        // The kernel gives up at the same wait as the manager.
        return platform::SgExecutePath(d.node, request.cdb, request.cdbLength, direction, request.buffer,
                                       request.length, 10000, sense.bytes.data())
            .ok;
    }
    return false;
}

int TVirtualHostAdapter::Add(IScsiDevice* device)
{
    devices_.push_back(device);
    return static_cast<int>(devices_.size() - 1);
}

int TVirtualHostAdapter::DeviceType(int target, int lun) const
{
    return lun == 0 && target >= 0 && target < static_cast<int>(devices_.size()) ? kCdromDeviceType : -1;
}

bool TVirtualHostAdapter::Execute(int target, int lun, const ScsiRequest& request, ScsiSense& sense)
{
    if (DeviceType(target, lun) < 0)
        return false;
    return devices_[static_cast<std::size_t>(target)]->Execute(request, sense);
}

// ---- the manager ----

// One request on its way: the worker runs it into its own buffer and hands the result
// over only if the caller is still waiting.
struct TAspiManager::Job {
    int target = 0, lun = 0;
    std::vector<std::uint8_t> cdb;
    ScsiDirection direction = ScsiDirection::None;
    std::vector<std::uint8_t> data;
    SrbExecScsiCmd* srb = nullptr;  // null once the caller gave up
    std::mutex* lock = nullptr;
};

struct TAspiManager::Worker {
    IHostAdapter* adapter = nullptr;
    std::mutex mutex;  // guards the queue and every job's srb pointer
    std::condition_variable cv;
    std::deque<std::shared_ptr<Job>> queue;
    bool stop = false;
    std::thread thread;

    void Run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            cv.wait(lock, [this] { return stop || !queue.empty(); });
            if (queue.empty())
                return;
            const std::shared_ptr<Job> job = queue.front();
            queue.pop_front();
            lock.unlock();
            ScsiRequest request{job->cdb.data(), job->cdb.size(), job->direction,
                                job->data.empty() ? nullptr : job->data.data(), job->data.size(), 10000};
            ScsiSense sense;
            const bool ok = adapter->Execute(job->target, job->lun, request, sense);
            lock.lock();
            if (SrbExecScsiCmd* srb = job->srb) {
                if (job->direction == ScsiDirection::In && srb->buffer)
                    std::copy(job->data.begin(), job->data.end(), srb->buffer);
                std::copy(sense.bytes.begin(), sense.bytes.end(), srb->sense);
                srb->targetStatus = ok ? 0 : (sense.Key() ? 2 : 0);
                srb->status = ok ? SS_COMP : SS_ERR;
                if (srb->completion)
                    srb->completion->Set();
            }
        }
    }
};

TAspiManager::TAspiManager(std::chrono::milliseconds wait) : wait_(wait) {}

TAspiManager::~TAspiManager()
{
    for (auto& worker : workers_) {
        {
            std::scoped_lock lock(worker->mutex);
            worker->stop = true;
        }
        worker->cv.notify_all();
        worker->thread.join();
    }
}

int TAspiManager::AddAdapter(std::unique_ptr<IHostAdapter> adapter)
{
    auto worker = std::make_unique<Worker>();
    worker->adapter = adapter.get();
    Worker* w = worker.get();
    worker->thread = std::thread([w] { w->Run(); });
    adapters_.push_back(std::move(adapter));
    workers_.push_back(std::move(worker));
    return static_cast<int>(adapters_.size() - 1);
}

void TAspiManager::AddSystemAdapters(const std::string& sysfsRoot)
{
    std::map<std::pair<int, int>, std::vector<TSgHostAdapter::Device>> byHost;
    for (const platform::SysfsDevice& d : platform::ListScsiGeneric(sysfsRoot))
        byHost[{d.address.host, d.address.channel}].push_back({d.address.target, d.address.lun, d.type, d.node});
    for (auto& [hostChannel, devices] : byHost) {
        const int number = AddAdapter(std::make_unique<TSgHostAdapter>(std::move(devices)));
        systemAdapters_.push_back({platform::ScsiAddress{hostChannel.first, hostChannel.second, 0, 0}, number});
    }
}

int TAspiManager::AdapterOf(const platform::ScsiAddress& address) const
{
    for (const auto& [hostChannel, number] : systemAdapters_)
        if (hostChannel.host == address.host && hostChannel.channel == address.channel)
            return number;
    return -1;
}

std::uint32_t TAspiManager::SupportInfo() const
{
    const std::uint32_t status = adapters_.empty() ? SS_NO_ADAPTERS : SS_COMP;
    return status << 8 | static_cast<std::uint32_t>(std::min<std::size_t>(adapters_.size(), 255));
}

std::uint8_t TAspiManager::AdapterInquiry(int adapter, int& maxTargets) const
{
    if (adapter < 0 || adapter >= static_cast<int>(adapters_.size()))
        return SS_INVALID_HA;
    maxTargets = adapters_[static_cast<std::size_t>(adapter)]->MaxTargets();
    return SS_COMP;
}

std::uint8_t TAspiManager::DeviceType(int adapter, int target, int lun, int& type) const
{
    if (adapter < 0 || adapter >= static_cast<int>(adapters_.size()))
        return SS_INVALID_HA;
    type = adapters_[static_cast<std::size_t>(adapter)]->DeviceType(target, lun);
    return type < 0 ? SS_NO_DEVICE : SS_COMP;
}

std::uint8_t TAspiManager::Execute(SrbExecScsiCmd& srb)
{
    if (srb.hostAdapter >= adapters_.size()) {
        srb.status = SS_INVALID_HA;
        return srb.status;
    }
    Worker& worker = *workers_[srb.hostAdapter];
    platform::Event done(platform::Event::Reset::Manual);
    auto job = std::make_shared<Job>();
    job->target = srb.target;
    job->lun = srb.lun;
    job->cdb.assign(srb.cdb, srb.cdb + std::min<std::size_t>(srb.cdbLength, sizeof srb.cdb));
    job->direction = (srb.flags & SRB_DIR_IN) ? ScsiDirection::In
                     : (srb.flags & SRB_DIR_OUT) ? ScsiDirection::Out
                                                 : ScsiDirection::None;
    if (job->direction != ScsiDirection::None && srb.buffer)
        job->data.assign(srb.buffer, srb.buffer + srb.bufferLength);
    {
        std::scoped_lock lock(worker.mutex);
        srb.status = SS_PENDING;
        srb.completion = &done;
        job->srb = &srb;
        worker.queue.push_back(job);
    }
    worker.cv.notify_one();
    done.WaitFor(wait_);
    std::scoped_lock lock(worker.mutex);
    srb.completion = nullptr;
    if (srb.status == SS_PENDING) {
        // Abort: the worker may still finish it, but nothing reaches the caller any more.
        job->srb = nullptr;
        worker.queue.erase(std::remove(worker.queue.begin(), worker.queue.end(), job), worker.queue.end());
        srb.status = SS_ABORTED;
        return 0;
    }
    return srb.status;
}

bool TAspiTransport::Execute(const TKsCdRom& drive, const ScsiRequest& request, ScsiSense& sense)
{
    SrbExecScsiCmd srb;
    srb.hostAdapter = drive.HostAdapter;
    srb.target = drive.Target;
    srb.lun = drive.Lun;
    srb.flags = SRB_EVENT_NOTIFY | (request.direction == ScsiDirection::In    ? SRB_DIR_IN
                                    : request.direction == ScsiDirection::Out ? SRB_DIR_OUT
                                                                              : 0);
    srb.buffer = request.buffer;
    srb.bufferLength = static_cast<std::uint32_t>(request.length);
    srb.cdbLength = static_cast<std::uint8_t>(std::min<std::size_t>(request.cdbLength, sizeof srb.cdb));
    std::copy(request.cdb, request.cdb + srb.cdbLength, srb.cdb);
    const std::uint8_t status = manager_.Execute(srb);
    std::copy(srb.sense, srb.sense + kSenseBytes, sense.bytes.begin());
    return status == SS_COMP;
}

}  // namespace vantrel
