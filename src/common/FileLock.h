#pragma once
// An advisory lock (flock) on a lock file, held until released or destroyed,
// so that two runs never write the same files at once.
#include <string>

#include "common/Status.h"

namespace kestrel {

class FileLock {
public:
    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the exclusive lock on `path` (created when missing) without
    // waiting. A failure when another process holds it (naming
    // that process when it left its id in the file) or the file cannot be
    // opened. The lock file keeps the holder's process id.
    Status tryLock(const std::string& path);
    void unlock();
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace kestrel
