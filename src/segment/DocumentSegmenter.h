#pragma once
// The segmenter as the pipeline sees it: load the data once, then turn whole
// documents into word lists, from several threads at once.
#include <memory>
#include <string>
#include <vector>

#include "segment/WordCounts.h"

namespace kestrel {

class DocumentSegmenter {
public:
    virtual ~DocumentSegmenter() = default;

    // Loads every data file from "<startupDir>/data/" (with the fallbacks of
    // the data-directory search). On failure returns false and sets a message
    // that names every directory tried.
    virtual bool loadData(const std::string& startupDir, std::string& error) = 0;

    // Unknown-word recognition switch; any non-zero value turns it on.
    virtual void setUnknownWordSwitch(int value) = 0;

    // Segments one raw document (GBK/GB18030, UTF-8 or UTF-16 bytes, detected
    // per file) into its word list: GB18030 words in text order, stop words
    // removed. Safe to call concurrently from several threads once loadData
    // succeeded; each call uses its own working state. Returns false with a
    // message naming the file when the document cannot be read or is not
    // text; on success `error` holds a warning (invalid bytes replaced) or is
    // empty.
    virtual bool segmentDocument(const std::string& path, std::vector<std::string>& words,
                                 std::string& error) const = 0;

    // The same document as word counts in order of first appearance. A
    // segmenter may split a long document into parts and segment them on up
    // to `threads` threads (0: every core); the counts are those of the
    // whole word list. Failures and warnings as segmentDocument.
    virtual bool countDocumentWords(const std::string& path, WordCounts& counts, std::string& error,
                                    unsigned threads) const {
        (void)threads;
        std::vector<std::string> words;
        if (!segmentDocument(path, words, error)) return false;
        counts.add(words);
        return true;
    }

    // Frees the loaded data; the next loadData loads it again.
    virtual void releaseData() = 0;
};

// The segmenter of this build, or nullptr when none is built in.
std::unique_ptr<DocumentSegmenter> makeDocumentSegmenter();

}  // namespace kestrel
