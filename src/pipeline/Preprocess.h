#pragma once
// The preprocess stage: the documents of a corpus directory, and raw-text
// documents segmented into their .seg files on every core.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "pipeline/CorpusListing.h"

namespace kestrel {

class DocumentSegmenter;
class ProgressSink;

// What segmenting the documents came to, per document.
struct SegmentationOutcome {
    std::vector<bool> ok;              // the document has its .seg file
    std::vector<std::string> errors;   // why it has none
    std::vector<std::string> notes;    // warnings of documents that were segmented
    bool finished = true;              // false: cancelled
};

// Segments the documents' text into their .seg files with a loaded
// segmenter: on every core, one document per worker, and documents of 4 MB
// and more afterwards, one at a time with every thread. Reports
// progress("preprocess") and stops when cancelled.
SegmentationOutcome segmentDocuments(DocumentSegmenter& segmenter, const std::vector<ListedDocument>& documents,
                                     unsigned threads, ProgressSink* sink);

}  // namespace kestrel
