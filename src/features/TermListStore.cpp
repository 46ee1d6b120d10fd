#include "features/TermListStore.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace kestrel {

namespace {

// Buffered bytes are written out in pieces of this size once spilled.
constexpr size_t kWriteBlock = size_t(1) << 20;

void putVarint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

// False when the bytes end inside the number or it runs past 64 bits.
bool getVarint(std::string_view bytes, size_t& at, uint64_t& v) {
    v = 0;
    for (unsigned shift = 0; shift < 64 && at < bytes.size(); shift += 7) {
        const auto byte = static_cast<uint8_t>(bytes[at++]);
        v |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return true;
    }
    return false;
}

uint64_t zigzag(int64_t n) { return (static_cast<uint64_t>(n) << 1) ^ static_cast<uint64_t>(n >> 63); }
int64_t unzigzag(uint64_t v) { return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1); }

uint32_t checksum(std::string_view bytes) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

std::string systemError() { return std::strerror(errno); }

// An unnamed file in `dir` (or, where the file system cannot make one, a
// named one removed at once): nothing stays once it is closed.
int openAnonymousFile(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    std::string name = dir + ".kestrel-terms-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) ::unlink(name.c_str());
    return named;
}

}  // namespace

TermListStore::TermListStore(std::string spillDirectory, size_t memoryLimit)
    : directory_(std::move(spillDirectory)), memoryLimit_(memoryLimit) {
    if (!directory_.empty() && directory_.back() != '/') directory_ += '/';
}

TermListStore::~TermListStore() { release(); }

TermListStore::TermListStore(TermListStore&& other) noexcept
    : directory_(std::move(other.directory_)),
      memoryLimit_(other.memoryLimit_),
      memory_(std::move(other.memory_)),
      size_(other.size_),
      fd_(std::exchange(other.fd_, -1)) {}

TermListStore& TermListStore::operator=(TermListStore&& other) noexcept {
    if (this != &other) {
        release();
        directory_ = std::move(other.directory_);
        memoryLimit_ = other.memoryLimit_;
        memory_ = std::move(other.memory_);
        size_ = other.size_;
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void TermListStore::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    memory_ = std::string();
    size_ = 0;
}

Result<TermListStore::Span> TermListStore::append(const std::vector<uint32_t>& ids,
                                                  const std::vector<int64_t>& counts) {
    encoded_.clear();
    putVarint(encoded_, ids.size());
    for (size_t k = 0; k < ids.size(); ++k) {
        putVarint(encoded_, ids[k]);
        putVarint(encoded_, zigzag(counts[k]));
    }
    if (!spilled() && memory_.size() + encoded_.size() > memoryLimit_) {
        if (directory_.empty()) return Status::failure("the term lists do not fit in memory");
        if (Status spilt = spill(); !spilt) return spilt;
    }
    const Span span{size_, size_ + encoded_.size(), checksum(encoded_)};
    memory_ += encoded_;
    size_ = span.end;
    if (spilled() && memory_.size() >= kWriteBlock) {
        if (Status written = writeOut(memory_); !written) return written;
        memory_.clear();
    }
    return span;
}

Status TermListStore::spill() {
    fd_ = openAnonymousFile(directory_);
    if (fd_ < 0) return Status::failure("cannot create a temporary file in " + directory_ + ": " + systemError());
    if (Status written = writeOut(memory_); !written) return written;
    // The buffer now only collects the next block.
    memory_ = std::string();
    memory_.reserve(kWriteBlock + kWriteBlock / 8);
    return Status();
}

Status TermListStore::writeOut(std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd_, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Status::failure("cannot write a temporary file in " + directory_ + ": " + systemError());
        data.remove_prefix(static_cast<size_t>(n));
    }
    return Status();
}

Status TermListStore::finish() {
    if (!spilled() || memory_.empty()) return Status();
    if (Status written = writeOut(memory_); !written) return written;
    memory_ = std::string();
    return Status();
}

Result<std::string_view> TermListStore::bytes(uint64_t begin, uint64_t end, std::string& buffer) const {
    if (begin > end || end > size_) return Status::failure("the term lists hold no such range");
    if (!spilled()) return std::string_view(memory_).substr(begin, end - begin);
    buffer.resize(end - begin);
    size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::pread(fd_, buffer.data() + got, buffer.size() - got, static_cast<off_t>(begin + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Status::failure("cannot read the temporary file of the term lists: " + systemError());
        if (n == 0) return Status::failure("the temporary file of the term lists ends early");
        got += static_cast<size_t>(n);
    }
    return std::string_view(buffer);
}

bool TermListStore::decode(std::string_view bytes, uint32_t crc, uint32_t termCount, std::vector<uint32_t>& ids,
                           std::vector<int64_t>& counts) {
    ids.clear();
    counts.clear();
    if (checksum(bytes) != crc) return false;
    size_t at = 0;
    uint64_t n = 0;
    // Every entry takes at least two bytes.
    if (!getVarint(bytes, at, n) || n > (bytes.size() - at) / 2) return false;
    ids.reserve(n);
    counts.reserve(n);
    for (uint64_t k = 0; k < n; ++k) {
        uint64_t id = 0, count = 0;
        if (!getVarint(bytes, at, id) || id >= termCount || !getVarint(bytes, at, count)) return false;
        ids.push_back(static_cast<uint32_t>(id));
        counts.push_back(unzigzag(count));
    }
    return at == bytes.size();
}

}  // namespace kestrel
