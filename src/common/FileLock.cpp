#include "common/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrel {

Status FileLock::tryLock(const std::string& path) {
    unlock();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return Status::failure("cannot open the lock file " + path + ": " + std::strerror(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        char holder[32] = {};
        const ssize_t n = pread(fd, holder, sizeof holder - 1, 0);
        close(fd);
        if (lockError != EWOULDBLOCK) return Status::failure("cannot lock " + path + ": " + std::strerror(lockError));
        std::string pid(holder, n > 0 ? static_cast<size_t>(n) : 0);
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
        return Status::failure("in use by another run" + (pid.empty() ? std::string() : " (process " + pid + ")"));
    }
    fd_ = fd;
    const std::string pid = std::to_string(getpid()) + "\n";
    // The id is only a hint for the message of a second run.
    const bool recorded = ftruncate(fd_, 0) == 0 && pwrite(fd_, pid.data(), pid.size(), 0) > 0;
    (void)recorded;
    return Status();
}

void FileLock::unlock() {
    if (fd_ < 0) return;
    // The id is cleared first so that no later message names a finished run.
    const bool cleared = ftruncate(fd_, 0) == 0;
    (void)cleared;
    close(fd_);  // closing releases the lock
    fd_ = -1;
}

}  // namespace kestrel
