#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace vantrel::platform {

std::string SingleInstance::DefaultLockFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        return runtime;
    return "/tmp";
}

SingleInstance::SingleInstance(const std::string& name, const std::string& folder)
    : path_((folder.empty() ? DefaultLockFolder() : folder) + "/" + name + ".lock")
{
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

SingleInstance::~SingleInstance()
{
    if (fd_ >= 0)
        ::close(fd_); // closing the last descriptor releases the lock
}

} // namespace vantrel::platform
