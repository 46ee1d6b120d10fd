#pragma once
// The vectorise stage: weighs the documents of a vector file (train.dat,
// test.dat, example.dat) over the selected features and writes their lines
// in document order, on every core a chunk at a time, so that memory holds
// one chunk's lines and not the corpus.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "features/FeatureTable.h"
#include "features/VectorFile.h"

namespace kestrel {

class AtomicFileWriter;
class ProgressSink;
class SegmentedCorpus;

// A document of a vector file: its .seg file and the label of its line.
struct VectorSource {
    std::string path;
    std::string label;
};

struct VectoriseRequest {
    const std::vector<VectorSource>* sources = nullptr;
    const FeatureTable* features = nullptr;
    // The training corpus as the index read it, with its term lists: the
    // documents are weighed from those lists (the sources give the labels
    // only); a list that cannot be read back is weighed from its .seg file.
    const SegmentedCorpus* keptTerms = nullptr;
    // A document that cannot be read keeps a line of its label alone, so
    // that lines and documents stay paired (raw documents); otherwise it is
    // left out (training documents).
    bool keepUnreadable = false;
    unsigned threads = 0;  // 0: every core
};

struct VectoriseResult {
    size_t written = 0;                  // lines written
    // The vectors written, up to kHeldVectorEntries entries (about 16 bytes
    // each); null for a larger corpus, which is read back from its file.
    std::shared_ptr<VectorSet> vectors;
    std::vector<std::string> warnings;   // documents that could not be read, in order
    std::string keptTermsProblem;        // the kept term lists could not be read back (why)

    static constexpr size_t kHeldVectorEntries = size_t(1) << 24;
};

// Writes the documents' lines into `out`, reporting progress("vectors");
// false when cancelled (the result then holds the warnings so far).
bool vectoriseDocuments(const VectoriseRequest& request, AtomicFileWriter& out, ProgressSink* sink,
                        VectoriseResult& result);

}  // namespace kestrel
