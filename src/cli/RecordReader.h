#pragma once
// Reads a stream of records one line at a time, telling the end of the
// input from a failure to read it, and never holding more than one record
// of at most kMaxRecordBytes: a longer line is skipped up to its newline,
// unread, and reported.
#include <cstdio>
#include <string>

namespace kestrel {

// The longest record line (without its line end) a stream command takes.
// Documents of news or web length are a few KB; a line this long is a
// damaged or hostile input, and holding and segmenting it would take ten
// times as much memory.
inline constexpr size_t kMaxRecordBytes = 64u << 20;

class RecordReader {
public:
    enum class Outcome {
        kRecord,   // a line, in `line`
        kTooLong,  // a line longer than the limit, skipped
        kEnd,      // the end of the input
        kError,    // the input could not be read (or no memory for the line): see error()
    };

    // `name` names the input in messages ("standard input", a path).
    RecordReader(std::FILE* in, std::string name, size_t maxBytes = kMaxRecordBytes);

    // The next line without its line end ("\n" or "\r\n"), NUL bytes kept.
    Outcome next(std::string& line);
    // The number of the line last returned, from 1.
    size_t lineNumber() const { return number_; }
    // Whether the line last returned ended the input without a newline.
    bool unterminated() const { return unterminated_; }
    // Why the input could not be read, naming it.
    const std::string& error() const { return error_; }
    size_t maxBytes() const { return maxBytes_; }

private:
    bool fill();
    std::FILE* in_;
    std::string name_;
    size_t maxBytes_;
    std::string buffer_;
    size_t position_ = 0;
    size_t end_ = 0;
    size_t number_ = 0;
    bool unterminated_ = false;
    std::string error_;
};

}  // namespace kestrel
