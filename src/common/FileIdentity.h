#pragma once
// What identifies the state of a file's content without reading it: a file
// with the same device, inode, size and modification time (to the
// nanosecond) is taken to hold the same bytes. Lets a reader keep what it
// parsed from a file for as long as the file stays as it was. The change
// time is left out: a new hard link to the file (as a workspace update
// makes) changes it, the content not.
#include <sys/stat.h>

#include <string>

namespace kestrel {

class FileIdentity {
public:
    // The identity of the file at `path` now; invalid when it cannot be
    // examined or is not a regular file.
    static FileIdentity of(const std::string& path) {
        FileIdentity id;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return id;
        id.valid_ = true;
        id.device_ = st.st_dev;
        id.inode_ = st.st_ino;
        id.size_ = st.st_size;
        id.modified_ = st.st_mtim;
        return id;
    }

    bool valid() const { return valid_; }
    // Two invalid identities are never the same file.
    bool operator==(const FileIdentity& o) const {
        return valid_ && o.valid_ && device_ == o.device_ && inode_ == o.inode_ && size_ == o.size_ &&
               modified_.tv_sec == o.modified_.tv_sec && modified_.tv_nsec == o.modified_.tv_nsec;
    }

private:
    bool valid_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t size_ = 0;
    timespec modified_{};
};

}  // namespace kestrel
