#pragma once
// Preprocessing as a stream of records, so that any batch engine that pipes
// lines through a command can segment a corpus in shards, one process per
// shard, and the shards can be turned back into a corpus of ".seg" files.
//
// A document record is "id<TAB>text" on one line; a segmented record is
// "id<TAB>word:count word:count ...", the words and counts a ".seg" file of
// that text holds, in the same order.
#include <cstdio>
#include <string>
#include <string_view>

#include "segment/CWordSegment.h"
#include "terms/TermOptions.h"

namespace kestrel {

// How the records of a stream are encoded: UTF-8, or GB18030 as the files of
// a workspace.
enum class StreamEncoding { kUtf8, kGb18030 };

// Segments every document record of `in` (named `inputName` in messages)
// and writes its segmented record to `out`, in input order, `threads`
// documents at a time (0: one per core); memory stays bounded by a batch of
// records. A line that is no document record, or is longer than
// kMaxRecordBytes, is reported on `messages` with its number and left out;
// the result is then 1 (0 when every line was a record). A failure to read
// `in` or to write `out` stops the stream with a message and 1. `terms`
// chooses the terms of the records (words alone by default).
int segmentStream(const CWordSegment& segmenter, StreamEncoding encoding, unsigned threads, std::FILE* in,
                  const std::string& inputName, std::FILE* out, std::FILE* messages = stderr,
                  const TermOptions& terms = {});

// The id and the rest of a record line; false with the reason when the line
// is no record (no TAB, an empty id, bytes outside the encoding).
bool splitRecord(std::string_view line, StreamEncoding encoding, std::string_view& id, std::string_view& rest,
                 std::string& why);
// A record's id for a message, in UTF-8.
std::string shownId(std::string_view id, StreamEncoding encoding);

// kestrel unpack-seg: segmented records into ".seg" files.
int runUnpackSeg(int argc, char** argv);

}  // namespace kestrel
