#include "cli/RecordReader.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace kestrel {

RecordReader::RecordReader(std::FILE* in, std::string name, size_t maxBytes)
    : in_(in), name_(std::move(name)), maxBytes_(maxBytes), buffer_(1u << 16, '\0') {}

bool RecordReader::fill() {
    position_ = 0;
    errno = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), in_);
    if (end_ > 0) return true;
    if (std::ferror(in_)) error_ = "cannot read " + name_ + ": " + std::strerror(errno ? errno : EIO);
    return false;
}

RecordReader::Outcome RecordReader::next(std::string& line) {
    line.clear();
    bool any = false;
    bool tooLong = false;
    for (;;) {
        if (position_ == end_ && !fill()) {
            if (!error_.empty()) return Outcome::kError;
            if (!any) return Outcome::kEnd;
            ++number_;
            unterminated_ = true;
            break;
        }
        any = true;
        const char* start = buffer_.data() + position_;
        const void* newline = std::memchr(start, '\n', end_ - position_);
        const size_t length = newline ? static_cast<size_t>(static_cast<const char*>(newline) - start) : end_ - position_;
        if (!tooLong && line.size() + length > maxBytes_ + 1) {  // + 1: a "\r" before the newline
            tooLong = true;
            std::string().swap(line);
        }
        if (!tooLong) {
            try {
                line.append(start, length);
            } catch (const std::bad_alloc&) {
                error_ = "not enough memory to read line " + std::to_string(number_ + 1) + " of " + name_;
                std::string().swap(line);
                return Outcome::kError;
            }
        }
        position_ += length;
        if (newline) {
            ++position_;
            ++number_;
            unterminated_ = false;
            break;
        }
    }
    if (!tooLong && !line.empty() && line.back() == '\r') line.pop_back();
    if (!tooLong && line.size() > maxBytes_) tooLong = true;
    if (tooLong) std::string().swap(line);
    return tooLong ? Outcome::kTooLong : Outcome::kRecord;
}

}  // namespace kestrel
