#pragma once
// The preprocess stage: the documents of a corpus directory, and raw-text
// documents segmented into their .seg files on every core.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"

namespace kestrel {

class DocumentSegmenter;
class ProgressSink;

// A document found in a corpus: its directory (with '/'), title and category
// id (-1 in an example corpus), with the paths of its text and .seg files.
struct ListedDocument {
    std::string dir;
    std::string title;
    int32_t category = -1;
    std::string textPath() const { return dir + title + ".txt"; }
    std::string segPath() const { return dir + title + ".seg"; }
};

// Appends the documents of `dir` in the format's pattern to `out`, sorted by
// name; temporary .seg files of a killed run are removed on the way. A name
// that cannot stand on one line of result.dat is skipped with a warning.
void listCorpusDirectory(const std::string& dir, InputFormat format, int32_t category,
                         std::vector<ListedDocument>& out, std::vector<std::string>& warnings);

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
