#pragma once
// kestrel unpack-seg: segmented records "id<TAB>word:count ..." back into
// ".seg" files below one directory, written by a SegCorpusWriter (nothing
// is written outside the directory).
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/SegStream.h"
#include "common/Status.h"
#include "segment/SegCorpusWriter.h"

namespace kestrel {

// Writes the ".seg" files of segmented records below one directory, each id
// at most once.
class SegUnpacker {
public:
    SegUnpacker(std::string dir, StreamEncoding encoding) : writer_(std::move(dir)), encoding_(encoding) {}

    // Creates the directory when missing and opens it.
    Status open() { return writer_.open(); }
    // Writes the file of one record; `where` names its line for a later
    // record with the same id.
    Status unpack(std::string_view line, const std::string& where);
    size_t written() const { return written_; }

private:
    SegCorpusWriter writer_;
    StreamEncoding encoding_;
    size_t written_ = 0;
};

// Unpacks every record of `in` (named `inputName` in messages, `source`
// put before line numbers), reporting refused lines on `messages`; a last
// line without a newline is a cut-off record and is refused. False when any
// line was refused or the input could not be read.
bool unpackRecords(SegUnpacker& unpacker, std::FILE* in, const std::string& inputName, const std::string& source,
                   std::FILE* messages = stderr);

}  // namespace kestrel
