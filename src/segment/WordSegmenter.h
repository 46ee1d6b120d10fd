#pragma once
// The word segmenter as the pipeline uses it: data loaded once, shared
// read-only, and documents segmented concurrently, each call with its own
// working state.
#include <string>
#include <vector>

#include "segment/CWordSegment.h"
#include "segment/DocumentSegmenter.h"
#include "segment/SegmenterPool.h"

namespace kestrel {

// The directories searched for the segmenter's data, in order:
// <startupDir>/data/, $KESTREL_DATA, then beside the executable
// (<exe>/data, <exe>/../data, <exe>/../share/kestrel/data). Each ends in '/'.
std::vector<std::string> dataDirectoryCandidates(const std::string& startupDir);

// The first candidate holding coreDict.dct, or a failure naming every
// directory tried when there is none.
Result<std::string> findDataDirectory(const std::string& startupDir);

class WordSegmenter : public DocumentSegmenter {
public:
    Status loadData(const std::string& startupDir) override;
    // Loads from a data directory given directly (the command line's --data).
    Status loadDataDirectory(const std::string& dataDir);
    void setUnknownWordSwitch(int value) override;
    Result<SegmentedDocument> segmentDocument(const std::string& path) const override;
    // Splits a long document where one run of text ends and the next begins
    // (the segmentation of each run depends on that run alone), so its parts
    // are segmented in parallel and its words are counted part by part.
    Result<CountedDocument> countDocumentWords(const std::string& path, unsigned threads) const override;
    void releaseData() override;

    // A working segmenter over the loaded data, for one thread.
    CWordSegment worker() const { return m_master; }
    const std::string& warnings() const { return m_master.warnings(); }

private:
    // The decoded text of a document; fails (naming the file) when it cannot
    // be read or is not text, otherwise `warning` holds a warning about
    // replaced bytes or is empty.
    Status readDocumentText(const std::string& path, std::string& text, std::string& warning) const;

    CWordSegment m_master;
    // Working segmenters of the calls, kept warm between documents.
    mutable SegmenterPool m_workers{m_master};
};

}  // namespace kestrel
