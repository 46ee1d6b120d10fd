#pragma once
// The word segmenter as the pipeline uses it: data loaded once, shared
// read-only, and documents segmented concurrently, each call with its own
// working state.
#include <string>
#include <vector>

#include "segment/CWordSegment.h"
#include "segment/DocumentSegmenter.h"

namespace kestrel {

// The directories searched for the segmenter's data, in order:
// <startupDir>/data/, $KESTREL_DATA, then beside the executable
// (<exe>/data, <exe>/../data, <exe>/../share/kestrel/data). Each ends in '/'.
std::vector<std::string> dataDirectoryCandidates(const std::string& startupDir);

// The first candidate holding coreDict.dct; empty with a message naming
// every directory tried when there is none.
std::string findDataDirectory(const std::string& startupDir, std::string& error);

class WordSegmenter : public DocumentSegmenter {
public:
    bool loadData(const std::string& startupDir, std::string& error) override;
    // Loads from a data directory given directly (the command line's --data).
    bool loadDataDirectory(const std::string& dataDir, std::string& error);
    void setUnknownWordSwitch(int value) override;
    bool segmentDocument(const std::string& path, std::vector<std::string>& words,
                         std::string& error) const override;
    // Splits a long document where one run of text ends and the next begins
    // (the segmentation of each run depends on that run alone), so its parts
    // are segmented in parallel and its words are counted part by part.
    bool countDocumentWords(const std::string& path, WordCounts& counts, std::string& error,
                            unsigned threads) const override;
    void releaseData() override;

    // A working segmenter over the loaded data, for one thread.
    CWordSegment worker() const { return m_master; }
    const std::string& warnings() const { return m_master.warnings(); }

private:
    // The decoded text of a document; false (with the message) when it cannot
    // be read or is not text, otherwise `error` holds a warning or is empty.
    bool readDocumentText(const std::string& path, std::string& text, std::string& error) const;

    CWordSegment m_master;
};

}  // namespace kestrel
