#pragma once
// The segmenter as the pipeline sees it: load the data once, then turn whole
// documents into word lists, from several threads at once.
#include <memory>
#include <string>
#include <vector>

#include "common/Status.h"
#include "segment/WordCounts.h"

namespace kestrel {

// The word list of one document, and a warning about its text (invalid
// bytes replaced) or nothing.
struct SegmentedDocument {
    std::vector<std::string> words;
    std::string warning;
};

// The same document as word counts, in order of first appearance.
struct CountedDocument {
    WordCounts counts;
    std::string warning;
};

class DocumentSegmenter {
public:
    virtual ~DocumentSegmenter() = default;

    // Loads every data file from "<startupDir>/data/" (with the fallbacks of
    // the data-directory search). A failure names every directory tried.
    virtual Status loadData(const std::string& startupDir) = 0;

    // Unknown-word recognition switch; any non-zero value turns it on.
    virtual void setUnknownWordSwitch(int value) = 0;

    // Segments one raw document (GBK/GB18030, UTF-8 or UTF-16 bytes, detected
    // per file) into its word list: GB18030 words in text order, stop words
    // removed. Safe to call concurrently from several threads once loadData
    // succeeded; each call uses its own working state. Fails with a message
    // naming the file when the document cannot be read or is not text.
    virtual Result<SegmentedDocument> segmentDocument(const std::string& path) const = 0;

    // The same document as word counts in order of first appearance. A
    // segmenter may split a long document into parts and segment them on up
    // to `threads` threads (0: every core); the counts are those of the
    // whole word list. Failures and warnings as segmentDocument.
    virtual Result<CountedDocument> countDocumentWords(const std::string& path, unsigned threads) const {
        (void)threads;
        Result<SegmentedDocument> segmented = segmentDocument(path);
        if (!segmented) return segmented.status();
        CountedDocument counted;
        counted.counts.add(segmented->words);
        counted.warning = std::move(segmented->warning);
        return counted;
    }

    // Frees the loaded data; the next loadData loads it again.
    virtual void releaseData() = 0;
};

// The segmenter of this build, or nullptr when none is built in.
std::unique_ptr<DocumentSegmenter> makeDocumentSegmenter();

}  // namespace kestrel
