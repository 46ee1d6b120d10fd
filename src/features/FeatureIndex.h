#pragma once
// Building the candidate index from the segmented training corpus.
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "features/SegmentedCorpus.h"
#include "features/TermIndex.h"

namespace kestrel {

class ProgressSink;

// Reads every .seg file of the training corpus once (categories in id order,
// files in name order) and counts, for each term, the documents containing
// it overall and per category. Files that cannot be read contribute nothing;
// their messages are appended to `warnings`. Returns the corpus as read, for
// the stages that follow; a large corpus keeps its term lists in a
// temporary file in `spillDirectory` (see SegmentedCorpus::read).
SegmentedCorpus buildTermIndex(const std::string& corpusPath, const CategoryTable& categories, uint32_t categoryCount,
                               TermIndex& index, std::vector<std::string>& warnings, ProgressSink* sink = nullptr,
                               unsigned threads = 0, const std::string& spillDirectory = {},
                               size_t memoryLimit = SegmentedCorpus::kDefaultMemoryLimit);
// The same for the training documents already listed (category ids below
// `categoryCount`), in the order given.
SegmentedCorpus buildTermIndex(std::vector<CorpusDocument> documents, uint32_t categoryCount, TermIndex& index,
                               std::vector<std::string>& warnings, ProgressSink* sink = nullptr,
                               unsigned threads = 0, const std::string& spillDirectory = {},
                               size_t memoryLimit = SegmentedCorpus::kDefaultMemoryLimit);

}  // namespace kestrel
