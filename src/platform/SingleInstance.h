// A named lock that only one process holds at a time: the program takes it at start
// so that a second copy can tell it is not alone. The kernel frees it when the holder
// exits or dies, so a crashed copy never blocks the next start.
#pragma once

#include <string>

namespace vantrel::platform {

class SingleInstance {
public:
    // Tries to take the lock named name in folder (default: DefaultLockFolder()).
    explicit SingleInstance(const std::string& name, const std::string& folder = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this object holds the lock.
    bool Acquired() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // $XDG_RUNTIME_DIR when set and present, else /tmp.
    static std::string DefaultLockFolder();

private:
    std::string path_;
    int fd_ = -1;
};

} // namespace vantrel::platform
