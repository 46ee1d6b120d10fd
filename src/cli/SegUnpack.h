#pragma once
// kestrel unpack-seg: segmented records "id<TAB>word:count ..." back into
// ".seg" files below one directory. Nothing is written outside it: the
// directory is opened once and every file and category directory below it is
// opened relative to it without following symbolic links.
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

#include "cli/SegStream.h"
#include "common/Status.h"

namespace kestrel {

// Writes the ".seg" files of segmented records below one directory, each id
// at most once.
class SegUnpacker {
public:
    SegUnpacker(std::string dir, StreamEncoding encoding) : dir_(std::move(dir)), encoding_(encoding) {}
    ~SegUnpacker();
    SegUnpacker(const SegUnpacker&) = delete;
    SegUnpacker& operator=(const SegUnpacker&) = delete;

    // Creates the directory when missing and opens it.
    Status open();
    // Writes the file of one record; `where` names its line for a later
    // record with the same id.
    Status unpack(std::string_view line, const std::string& where);
    size_t written() const { return written_; }

private:
    Status write(const std::string& category, const std::string& title, std::string_view content);
    std::string dir_;
    StreamEncoding encoding_;
    int dirFd_ = -1;
    size_t written_ = 0;
    std::unordered_map<std::string, std::string> firstSeen_;  // id -> where its record was
};

// Unpacks every record of `in` (named `inputName` in messages, `source`
// put before line numbers), reporting refused lines on `messages`; a last
// line without a newline is a cut-off record and is refused. False when any
// line was refused or the input could not be read.
bool unpackRecords(SegUnpacker& unpacker, std::FILE* in, const std::string& inputName, const std::string& source,
                   std::FILE* messages = stderr);

}  // namespace kestrel
