#pragma once
// Reading a file line by line a block at a time, so that a file larger than
// memory can be walked with a buffer of about one block.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Status.h"

namespace kestrel {

class FileLineReader {
public:
    explicit FileLineReader(std::string path);
    ~FileLineReader();
    FileLineReader(const FileLineReader&) = delete;
    FileLineReader& operator=(const FileLineReader&) = delete;

    // Opens the file; a failure (also a directory) names it.
    Status open();
    // The next line without its line end ("\r\n", "\n" or a lone "\r", as
    // forEachLine ends them; a last line without one still counts). The view
    // holds until the next call. False at the end of the file or after a
    // read failure (see status()).
    bool next(std::string_view& line);

    // Success, or the failure that ended reading early.
    const Status& status() const { return status_; }
    const std::string& path() const { return path_; }

private:
    bool fill();
    // Index in the buffer of the first `c` at or after `from` (the buffer's
    // size when there is none), remembered in `found`: a line end that is
    // rare in the text (CR in most files) is not searched for again on every
    // line, and the search stays linear in the buffer.
    size_t findFrom(char c, size_t from, size_t& found) const;
    static constexpr size_t kNotSearched = SIZE_MAX;

    std::string path_;
    int fd_ = -1;
    bool atEnd_ = false;
    uint64_t unread_ = UINT64_MAX;  // bytes of the file not read yet, as its size says
    std::string buffer_;
    size_t pos_ = 0;
    size_t nextLf_ = kNotSearched;  // see findFrom; forgotten when the buffer moves
    size_t nextCr_ = kNotSearched;
    Status status_;
};

// Calls fn(line, number) for every line of the file at `path` (numbers from
// 1) until fn returns false; a failure to open or read names the file.
template <typename Fn>
Status forEachFileLine(const std::string& path, Fn&& fn) {
    FileLineReader reader(path);
    if (Status opened = reader.open(); !opened) return opened;
    std::string_view line;
    for (int64_t number = 1; reader.next(line); ++number)
        if (!fn(line, number)) break;
    return reader.status();
}

}  // namespace kestrel
