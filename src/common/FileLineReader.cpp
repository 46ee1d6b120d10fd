#include "common/FileLineReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

FileLineReader::FileLineReader(std::string path) : path_(std::move(path)) {}

FileLineReader::~FileLineReader() {
    if (fd_ >= 0) close(fd_);
}

Status FileLineReader::open() {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return status_ = Status::failure("cannot open " + path_ + ": " + std::strerror(errno));
    struct stat st;
    if (fstat(fd_, &st) != 0) return status_ = Status::failure("cannot read " + path_ + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return status_ = Status::failure("cannot read " + path_ + ": it is a directory");
    if (S_ISREG(st.st_mode)) unread_ = static_cast<uint64_t>(st.st_size);
    return status_;
}

bool FileLineReader::fill() {
    constexpr size_t kBlock = size_t(1) << 20;
    if (fd_ < 0) atEnd_ = true;  // never opened, or opening failed
    if (atEnd_) return false;
    buffer_.erase(0, pos_);
    pos_ = 0;
    nextLf_ = nextCr_ = kNotSearched;
    const size_t kept = buffer_.size();
    // A small file takes a small block (one byte more, to see its end):
    // the block is filled with zeros before it is read into.
    const size_t block =
        unread_ == UINT64_MAX ? kBlock : static_cast<size_t>(std::clamp<uint64_t>(unread_ + 1, 4096, kBlock));
    buffer_.resize(kept + block);
    for (;;) {
        const ssize_t n = read(fd_, buffer_.data() + kept, block);
        // A file that grew while it is read is read on in whole blocks.
        if (n > 0) unread_ = static_cast<uint64_t>(n) > unread_ ? UINT64_MAX : unread_ - static_cast<uint64_t>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) status_ = Status::failure("cannot read " + path_ + ": " + std::strerror(errno));
        buffer_.resize(kept + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        atEnd_ = n <= 0;
        return n > 0;
    }
}

size_t FileLineReader::findFrom(char c, size_t from, size_t& found) const {
    if (found != kNotSearched && found >= from) return found;
    const void* hit = std::memchr(buffer_.data() + from, c, buffer_.size() - from);
    found = hit ? static_cast<size_t>(static_cast<const char*>(hit) - buffer_.data()) : buffer_.size();
    return found;
}

bool FileLineReader::next(std::string_view& line) {
    // A CR at the end of what has been read waits for the next block to tell
    // whether an LF follows it.
    size_t scanned = 0;
    for (;;) {
        const size_t size = buffer_.size();
        const size_t from = pos_ + scanned;
        const size_t end = std::min(findFrom('\n', from, nextLf_), findFrom('\r', from, nextCr_));
        if (end < size && (buffer_[end] == '\n' || end + 1 < size || atEnd_)) {
            const bool crlf = buffer_[end] == '\r' && end + 1 < size && buffer_[end + 1] == '\n';
            line = std::string_view(buffer_.data() + pos_, end - pos_);
            pos_ = end + (crlf ? 2 : 1);
            return true;
        }
        if (atEnd_) {
            if (pos_ == size || !status_) return false;
            line = std::string_view(buffer_.data() + pos_, size - pos_);
            pos_ = size;
            return true;
        }
        scanned = end - pos_;
        fill();
        if (!status_) return false;
    }
}

}  // namespace kestrel
