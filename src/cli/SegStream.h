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

// Segments every document record of `in` and writes its segmented record to
// `out`, in input order, `threads` documents at a time (0: one per core);
// memory stays bounded by a batch of records. A line that is no document
// record is reported on standard error with its number and left out; the
// result is then 1 (0 when every line was a record, 1 also when `out` fails).
// `terms` chooses the terms of the records (words alone by default).
int segmentStream(const CWordSegment& segmenter, StreamEncoding encoding, unsigned threads, std::FILE* in,
                  std::FILE* out, const TermOptions& terms = {});

// kestrel unpack-seg: segmented records into ".seg" files.
int runUnpackSeg(int argc, char** argv);

}  // namespace kestrel
